#pragma once
// The visible controls a form holds: labels, edit fields and buttons, each a
// Qt widget placed at its stored position on its form.
#include "classes.h"

#include <QPointer>
#include <QWidget>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class TControl : public TComponent {
public:
    ~TControl() override;
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetBounds(int left, int top, int width, int height);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    int TabOrder = -1; // -1: not in the tab order
    QWidget* Widget() const { return widget_; }

    void GetProps(std::vector<TPropInfo>& props) const override;

protected:
    TControl(TComponent* AOwner, QWidget* widget);
    virtual void BoundsChanged() {}

private:
    QPointer<QWidget> widget_;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

class TLabel : public TControl {
public:
    explicit TLabel(TComponent* AOwner);
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool autoSize);
    void GetProps(std::vector<TPropInfo>& props) const override;
    // Refits the label to its text (when AutoSize); called when the font changes.
    void AdjustSize();

private:
    QLabel* label() const;
    bool autoSize_ = true;
};

class TEdit : public TControl {
public:
    explicit TEdit(TComponent* AOwner);
    std::string Text() const;
    void SetText(const std::string& text);
    void GetProps(std::vector<TPropInfo>& props) const override;

private:
    QLineEdit* edit() const;
};

class TButton : public TControl {
public:
    explicit TButton(TComponent* AOwner);
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    // Runs OnClick as a user's click would.
    void Click();
    TNotifyEvent OnClick;
    void GetProps(std::vector<TPropInfo>& props) const override;

private:
    QPushButton* button() const;
};
