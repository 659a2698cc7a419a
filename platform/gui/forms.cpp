#include "forms.h"

#include "controls.h"
#include "cursorblink.h"
#include "formfile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QMessageBox>
#include <QWidget>

TApplication* Application = nullptr;

namespace {

class FormWidget : public QWidget {
public:
    explicit FormWidget(TForm* form) : form_(form) {}

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (!form_->CloseQuery()) {
            event->ignore();
            return;
        }
        event->accept();
        if (Application && Application->MainForm() == form_)
            Application->Terminate();
    }

private:
    TForm* form_;
};

} // namespace

TForm::TForm(TComponent* AOwner) : TComponent(AOwner), widget_(new FormWidget(this)) {}

TForm::~TForm()
{
    // The controls' widgets are children of the window: free the components
    // first, then the window.
    Destroying();
    DestroyComponents();
    delete widget_;
    if (Application)
        Application->FormDestroyed(this);
}

void TForm::CreateFromStoredForm(const std::string& Text)
{
    TReader(*this).ReadRootComponent(Text);
    if (OnCreate)
        Application->Dispatch([this] { OnCreate(this); });
}

std::string TForm::Caption() const { return widget_->windowTitle().toStdString(); }

void TForm::SetCaption(const std::string& caption) { widget_->setWindowTitle(QString::fromStdString(caption)); }

void TForm::applyFont()
{
    // A stored font this system lacks becomes the closest sans-serif at hand:
    // a face of the same widths where there is one, so captions keep their room.
    QString family = QString::fromStdString(FontName);
    const QStringList installed = QFontDatabase::families();
    if (!installed.contains(family, Qt::CaseInsensitive)) {
        for (const char* near : {"Liberation Sans", "Arimo", "DejaVu Sans"})
            if (installed.contains(near)) {
                family = near;
                break;
            }
    }
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    // A negative height is the character height in pixels, a positive one in points.
    if (FontHeight < 0)
        font.setPixelSize(-FontHeight);
    else if (FontHeight > 0)
        font.setPointSize(FontHeight);
    font.setBold(std::find(FontStyle.begin(), FontStyle.end(), "fsBold") != FontStyle.end());
    font.setItalic(std::find(FontStyle.begin(), FontStyle.end(), "fsItalic") != FontStyle.end());
    widget_->setFont(font);
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* label = dynamic_cast<TLabel*>(Components(i)))
            label->AdjustSize();
}

void TForm::applyGeometry()
{
    // Width and Height are the outer size: take the window frame off, once known.
    const QSize frame = widget_->frameGeometry().size() - widget_->size();
    widget_->resize(std::max(1, Width - frame.width()), std::max(1, Height - frame.height()));
    widget_->move(Left, Top);
}

void TForm::Loaded()
{
    TComponent::Loaded();
    applyFont();
    applyGeometry();
    // Focus moves through the controls by their stored tab order.
    std::vector<TControl*> order;
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* c = dynamic_cast<TControl*>(Components(i)); c && c->TabOrder >= 0 && c->Widget())
            order.push_back(c);
    std::stable_sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->TabOrder < b->TabOrder; });
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1]->Widget(), order[i]->Widget());
    if (!order.empty())
        order.front()->Widget()->setFocus();
}

void TForm::Show()
{
    widget_->show();
    applyGeometry();
}

void TForm::Close() { widget_->close(); }

bool TForm::CloseQuery()
{
    TCloseAction action = caHide;
    bool raised = true;
    Application->Dispatch([&] {
        if (OnClose)
            OnClose(this, action);
        raised = false;
    });
    return !raised && action != caNone;
}

void TForm::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    auto intField = [&](const char* name, int TForm::*field) {
        props.push_back(IntProp<TForm>(name, [field](auto& f) { return f.*field; },
                                       [field](auto& f, int64_t v) { f.*field = int(v); }));
    };
    auto identField = [&](const char* name, std::string TForm::*field) {
        props.push_back(IdentProp<TForm>(name, [field](auto& f) { return f.*field; },
                                         [field](auto& f, const std::string& v) { f.*field = v; }));
    };
    intField("Left", &TForm::Left);
    intField("Top", &TForm::Top);
    intField("Width", &TForm::Width);
    intField("Height", &TForm::Height);
    props.push_back(StrProp<TForm>("Caption", [](auto& f) { return f.Caption(); },
                                   [](auto& f, const std::string& v) { f.SetCaption(v); }));
    identField("Color", &TForm::Color);
    identField("Font.Charset", &TForm::FontCharset);
    identField("Font.Color", &TForm::FontColor);
    intField("Font.Height", &TForm::FontHeight);
    props.push_back(StrProp<TForm>("Font.Name", [](auto& f) { return f.FontName; },
                                   [](auto& f, const std::string& v) { f.FontName = v; }));
    props.push_back({"Font.Style",
                     [](TComponent& c, const TValue& v, TReader&) {
                         if (!std::holds_alternative<TSetValue>(v))
                             throw EReadError("Invalid property value for Font.Style");
                         static_cast<TForm&>(c).FontStyle = std::get<TSetValue>(v);
                     },
                     [](const TComponent& c) -> std::optional<TValue> { return static_cast<const TForm&>(c).FontStyle; }});
    props.push_back(BoolProp<TForm>("OldCreateOrder", [](auto& f) { return f.OldCreateOrder; },
                                    [](auto& f, bool v) { f.OldCreateOrder = v; }));
    props.push_back(EventProp<TForm, TCloseEvent>("OnClose", &TForm::OnClose));
    props.push_back(EventProp<TForm, TNotifyEvent>("OnCreate", &TForm::OnCreate));
    intField("PixelsPerInch", &TForm::PixelsPerInch);
    intField("TextHeight", &TForm::TextHeight);
}

TApplication::TApplication() : TComponent(nullptr)
{
    if (!QApplication::instance()) {
        static int argc = 1;
        static char name[] = "vocora";
        static char* argv[] = {name, nullptr};
        qt_ = std::make_unique<QApplication>(argc, argv);
    }
    QApplication::setQuitOnLastWindowClosed(false);
    // As on the desktop, the text cursor rests after 10 s without input: a
    // window left alone through a call then costs no redraws.
    blink_ = std::make_unique<CursorBlinkTimeout>(std::chrono::seconds(10));
    Application = this;
    RegisterStandardClasses();
}

TApplication::~TApplication()
{
    Destroying();
    DestroyComponents(); // forms go while Qt is still there
    if (Application == this)
        Application = nullptr;
}

void TApplication::Run()
{
    if (mainForm_)
        mainForm_->Show();
    QApplication::exec();
}

void TApplication::Terminate() { QCoreApplication::quit(); }

void TApplication::Dispatch(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(Exception("Unknown exception"));
    }
}

void TApplication::ShowException(const std::exception& e)
{
    // A failure that repeats every second (a device that will not open) while
    // its report is still up would stack one box on another for as long as
    // nobody answers; the one already showing says it all.
    const std::string message = e.what();
    if (std::find(showing_.begin(), showing_.end(), message) != showing_.end())
        return;
    showing_.push_back(message);
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(Title), QString::fromStdString(message),
                    QMessageBox::Ok);
    box.exec();
    showing_.erase(std::find(showing_.begin(), showing_.end(), message));
}

void TApplication::MessageBox(const std::string& Text, const std::string& Caption)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(Caption.empty() ? Title : Caption),
                    QString::fromStdString(Text), QMessageBox::Ok);
    box.exec(); // no parent: centred on the screen
}

void RegisterStandardClasses()
{
    RegisterComponentClass<TLabel>("TLabel");
    RegisterComponentClass<TEdit>("TEdit");
    RegisterComponentClass<TButton>("TButton");
}
