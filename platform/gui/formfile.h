#pragma once
// Stored forms as text: a root object with its properties and the components
// it owns, each with its class, name and stored values, in stored order.
//
//   object Mainform: TMainform
//     Caption = 'Vocora'
//     OnCreate = FormCreate
//     object Connect: TButton
//       Left = 8
//     end
//     object ACMCIn: TACMConvertor
//       ACMFormatIn = {
//         81000000...}
//     end
//   end
#include "classes.h"

#include <string>

class TReader {
public:
    explicit TReader(TComponent& root) : root_(root) {}
    TComponent& Root() const { return root_; }

    // Applies the stored form Text to the root: its own values, then each owned
    // component, created by class name and bound to the root's field of the same
    // name, in stored order. Once all is read every component (the root first)
    // finishes loading. Raises EReadError for text that does not fit.
    void ReadRootComponent(const std::string& Text);

private:
    TComponent& root_;
};

// Writes Root and the components it owns as stored-form text.
std::string WriteComponentText(const TComponent& Root);
