#pragma once
// The application object and the form: the message loop, the standard error
// report, modal message boxes, and windows created from a stored form.
#include "classes.h"

#include <functional>
#include <memory>
#include <string>

class QApplication;
class CursorBlinkTimeout;
class QWidget;
class QCloseEvent;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = TEvent<TObject*, TCloseAction&>;

// A window. Its values, components and handlers come from a stored form.
class TForm : public TComponent {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    // Reads the stored form Text into this form (components, values, loading),
    // then runs OnCreate. An exception from OnCreate goes to the standard error
    // report and creation goes on; an exception while reading goes to the caller.
    void CreateFromStoredForm(const std::string& Text);

    void Show();
    void Close();
    QWidget* Widget() const { return widget_; }

    std::string Caption() const;
    void SetCaption(const std::string& caption);

    // Stored outer geometry.
    int Left = 0, Top = 0, Width = 0, Height = 0;
    std::string Color = "clBtnFace";
    std::string FontName = "MS Sans Serif";
    int FontHeight = -11;
    std::string FontCharset = "DEFAULT_CHARSET", FontColor = "clWindowText";
    TSetValue FontStyle;
    bool OldCreateOrder = false;
    int PixelsPerInch = 96, TextHeight = 13;
    TNotifyEvent OnCreate;
    TCloseEvent OnClose;

    void GetProps(std::vector<TPropInfo>& props) const override;
    void Loaded() override;

    // The close request of the window: OnClose decides, an exception keeps the
    // window open. Returns whether the window closes.
    bool CloseQuery();

private:
    void applyFont();
    void applyGeometry();
    QWidget* widget_;
};

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Creates a form of class T owned by the application; the first becomes the
    // main form. An exception while reading its stored form leaves Ref unset.
    template <class T>
    void CreateForm(T*& Ref)
    {
        auto form = std::make_unique<T>(this);
        form->CreateFromStoredForm(T::StoredForm());
        Ref = form.release();
        if (!mainForm_)
            mainForm_ = Ref;
    }

    TForm* MainForm() const { return mainForm_; }
    // A form being destroyed stops being the main form.
    void FormDestroyed(TForm* form)
    {
        if (mainForm_ == form)
            mainForm_ = nullptr;
    }
    // Shows the main form and runs the message loop until it closes.
    void Run();
    // Ends the message loop.
    void Terminate();

    // Runs one handler: an exception leaving it goes to the standard error report.
    void Dispatch(const std::function<void()>& handler);
    // The standard error report: a modal box with the exception's message.
    // A message whose box is still open is not shown a second time.
    void ShowException(const std::exception& e);
    // A modal box with one OK button, no icon, centred on the screen. Other
    // events go on being handled while it is open.
    void MessageBox(const std::string& Text, const std::string& Caption = {});

    std::string Title = "Vocora";

    // How long the text cursor blinks after the last input (10 s).
    CursorBlinkTimeout& CursorBlink() { return *blink_; }

private:
    std::unique_ptr<QApplication> qt_;
    std::unique_ptr<CursorBlinkTimeout> blink_;
    TForm* mainForm_ = nullptr;
    std::vector<std::string> showing_; // messages of the reports open now
};

extern TApplication* Application;

// Registers TForm and the standard controls with the stored-form reader.
void RegisterStandardClasses();
