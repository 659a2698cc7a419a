#include "controls.h"

#include "forms.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
QWidget* parentWidget(TComponent* owner)
{
    auto* form = dynamic_cast<TForm*>(owner);
    return form ? form->Widget() : nullptr;
}
} // namespace

TControl::TControl(TComponent* AOwner, QWidget* widget) : TComponent(AOwner), widget_(widget)
{
    if (QWidget* parent = parentWidget(AOwner))
        widget_->setParent(parent);
}

TControl::~TControl()
{
    delete widget_.data(); // already gone when the form's window went first
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (widget_)
        widget_->setGeometry(left, top, width, height);
    BoundsChanged();
}

bool TControl::Enabled() const { return widget_ && widget_->isEnabled(); }

void TControl::SetEnabled(bool enabled)
{
    if (widget_)
        widget_->setEnabled(enabled);
}

void TControl::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    props.push_back(IntProp<TControl>("Left", [](auto& c) { return c.left_; },
                                      [](auto& c, int64_t v) { c.SetBounds(int(v), c.top_, c.width_, c.height_); }));
    props.push_back(IntProp<TControl>("Top", [](auto& c) { return c.top_; },
                                      [](auto& c, int64_t v) { c.SetBounds(c.left_, int(v), c.width_, c.height_); }));
    props.push_back(IntProp<TControl>("Width", [](auto& c) { return c.width_; },
                                      [](auto& c, int64_t v) { c.SetBounds(c.left_, c.top_, int(v), c.height_); }));
    props.push_back(IntProp<TControl>("Height", [](auto& c) { return c.height_; },
                                      [](auto& c, int64_t v) { c.SetBounds(c.left_, c.top_, c.width_, int(v)); }));
    props.push_back(BoolProp<TControl>("Enabled", [](auto& c) { return c.Enabled(); },
                                       [](auto& c, bool v) { c.SetEnabled(v); }, true));
}

namespace {
// Tab order is stored for the controls that take focus only.
TPropInfo tabOrderProp()
{
    return {"TabOrder",
            [](TComponent& c, const TValue& v, TReader&) {
                if (!std::holds_alternative<int64_t>(v))
                    throw EReadError("Invalid property value for TabOrder");
                static_cast<TControl&>(c).TabOrder = int(std::get<int64_t>(v));
            },
            [](const TComponent& c) -> std::optional<TValue> {
                const int order = static_cast<const TControl&>(c).TabOrder;
                return order < 0 ? std::nullopt : std::optional<TValue>(int64_t{order});
            }};
}
} // namespace

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner, new QLabel) {}

QLabel* TLabel::label() const { return static_cast<QLabel*>(Widget()); }

std::string TLabel::Caption() const { return label() ? label()->text().toStdString() : std::string(); }

void TLabel::SetCaption(const std::string& caption)
{
    if (!label())
        return;
    label()->setText(QString::fromStdString(caption));
    AdjustSize();
}

void TLabel::SetAutoSize(bool autoSize)
{
    autoSize_ = autoSize;
    AdjustSize();
}

void TLabel::AdjustSize()
{
    if (!autoSize_ || !label())
        return;
    const QSize fit = label()->sizeHint();
    SetBounds(Left(), Top(), fit.width(), fit.height());
}

void TLabel::GetProps(std::vector<TPropInfo>& props) const
{
    TControl::GetProps(props);
    props.push_back(BoolProp<TLabel>("AutoSize", [](auto& c) { return c.AutoSize(); },
                                     [](auto& c, bool v) { c.SetAutoSize(v); }, true));
    props.push_back(StrProp<TLabel>("Caption", [](auto& c) { return c.Caption(); },
                                    [](auto& c, const std::string& v) { c.SetCaption(v); }));
}

TEdit::TEdit(TComponent* AOwner) : TControl(AOwner, new QLineEdit) { TabOrder = 0; }

QLineEdit* TEdit::edit() const { return static_cast<QLineEdit*>(Widget()); }

std::string TEdit::Text() const { return edit() ? edit()->text().toStdString() : std::string(); }

void TEdit::SetText(const std::string& text)
{
    if (edit())
        edit()->setText(QString::fromStdString(text));
}

void TEdit::GetProps(std::vector<TPropInfo>& props) const
{
    TControl::GetProps(props);
    props.push_back(tabOrderProp());
    props.push_back(StrProp<TEdit>("Text", [](auto& c) { return c.Text(); },
                                   [](auto& c, const std::string& v) { c.SetText(v); }));
}

TButton::TButton(TComponent* AOwner) : TControl(AOwner, new QPushButton)
{
    TabOrder = 0;
    QObject::connect(button(), &QPushButton::clicked, [this] { Click(); });
}

QPushButton* TButton::button() const { return static_cast<QPushButton*>(Widget()); }

std::string TButton::Caption() const { return button() ? button()->text().toStdString() : std::string(); }

void TButton::SetCaption(const std::string& caption)
{
    if (button())
        button()->setText(QString::fromStdString(caption));
}

void TButton::Click()
{
    if (OnClick)
        Application->Dispatch([this] { OnClick(this); });
}

void TButton::GetProps(std::vector<TPropInfo>& props) const
{
    TControl::GetProps(props);
    props.push_back(StrProp<TButton>("Caption", [](auto& c) { return c.Caption(); },
                                     [](auto& c, const std::string& v) { c.SetCaption(v); }));
    props.push_back(tabOrderProp());
    props.push_back(EventProp<TButton, TNotifyEvent>("OnClick", &TButton::OnClick));
}
