// Stored forms: components created by class in stored order, values applied,
// binary blocks through DefineProperties, loading before OnCreate, and a form
// written and read back unchanged.
#include "box_watcher.h"
#include "controls.h"
#include "formfile.h"
#include "forms.h"

#include <gtest/gtest.h>

#include <QPushButton>

namespace {

std::vector<std::string> journal;

// A component with an integer, a block and a loading step, as probes.
class TProbe : public TComponent {
public:
    using TComponent::TComponent;
    int64_t Value = 0;
    TBytes Block;
    bool LoadingWhenSet = false;
    void GetProps(std::vector<TPropInfo>& props) const override
    {
        TComponent::GetProps(props);
        props.push_back(IntProp<TProbe>("Value", [](auto& p) { return p.Value; },
                                        [](auto& p, int64_t v) {
                                            p.Value = v;
                                            p.LoadingWhenSet = p.ComponentState() & csLoading;
                                        }));
    }
    void DefineProperties(TFiler& Filer) override
    {
        Filer.DefineBinaryProperty(
            "Block", [this](TMemoryStream& s) { Block.assign(s.Bytes.begin(), s.Bytes.end()); },
            [this](TMemoryStream& s) { s.Write(Block.data(), Block.size()); }, !Block.empty());
    }
    void Loaded() override
    {
        TComponent::Loaded();
        journal.push_back("Loaded " + Name());
    }
};

class TProbeForm : public TForm {
public:
    explicit TProbeForm(TComponent* owner) : TForm(owner)
    {
        PublishField("First", [this](TComponent* c) { First = dynamic_cast<TProbe*>(c); });
        PublishField("Go", [this](TComponent* c) { Go = dynamic_cast<TButton*>(c); });
        PublishMethod("FormCreate", TNotifyEvent("FormCreate", [](TObject*) { journal.push_back("FormCreate"); }));
        PublishMethod("GoClick", TNotifyEvent("GoClick", [](TObject*) { throw Exception("click failed"); }));
    }
    static std::string StoredForm()
    {
        return "object Probe: TProbeForm\n"
               "  Caption = 'It''s a probe'\n"
               "  OnCreate = FormCreate\n"
               "  object First: TProbe\n"
               "    Value = -7\n"
               "    Block = {\n"
               "      0102FF}\n"
               "  end\n"
               "  object Go: TButton\n"
               "    Left = 8\n"
               "    Top = 64\n"
               "    Width = 169\n"
               "    Height = 25\n"
               "    Caption = 'Go'\n"
               "    TabOrder = 2\n"
               "    OnClick = GoClick\n"
               "  end\n"
               "  object Second: TProbe\n"
               "    Value = 3\n"
               "  end\n"
               "end\n";
    }
    TProbe* First = nullptr;
    TButton* Go = nullptr;
};

struct FormTest : testing::Test {
    void SetUp() override
    {
        journal.clear();
        RegisterComponentClass<TProbe>("TProbe");
        RegisterComponentClass<TProbeForm>("TProbeForm");
    }
};

} // namespace

TEST_F(FormTest, CreatesComponentsInStoredOrderAndLoadsThemBeforeOnCreate)
{
    TProbeForm* form = nullptr;
    Application->CreateForm(form);
    std::unique_ptr<TProbeForm> owned(form);
    ASSERT_EQ(form->ComponentCount(), 3);
    EXPECT_EQ(form->Components(0), form->First);
    EXPECT_EQ(form->Components(1), form->Go);
    EXPECT_EQ(form->Components(2)->Name(), "Second");
    EXPECT_EQ(form->Caption(), "It's a probe");
    EXPECT_EQ(form->First->Value, -7);
    EXPECT_TRUE(form->First->LoadingWhenSet);
    EXPECT_EQ(form->First->Block, (TBytes{1, 2, 0xFF}));
    EXPECT_EQ(form->Go->Widget()->geometry(), QRect(8, 64, 169, 25));
    EXPECT_EQ(journal, (std::vector<std::string>{"Loaded First", "Loaded Second", "FormCreate"}));
}

TEST_F(FormTest, AFormWrittenAndReadBackIsUnchanged)
{
    TProbeForm* form = nullptr;
    Application->CreateForm(form);
    std::unique_ptr<TProbeForm> owned(form);
    const std::string written = WriteComponentText(*form);

    TProbeForm again(nullptr);
    TReader(again).ReadRootComponent(written);
    EXPECT_EQ(WriteComponentText(again), written);
    EXPECT_EQ(again.First->Block, form->First->Block);
    EXPECT_NE(written.find("OnClick = GoClick"), std::string::npos);
}

TEST_F(FormTest, TextThatDoesNotFitIsRefused)
{
    const std::string bad[] = {
        "object Probe: TOther\nend\n",
        "object Probe: TProbeForm\n  object X: TNoSuchClass\n  end\nend\n",
        "object Probe: TProbeForm\n  object X: TProbe\n    Nothing = 1\n  end\nend\n",
        "object Probe: TProbeForm\n  object X: TProbe\n    Value = 'text'\n  end\nend\n",
        "object Probe: TProbeForm\n  OnCreate = NoSuchMethod\nend\n",
        "object Probe: TProbeForm\n  OnClose = FormCreate\nend\n",
        "object Probe: TProbeForm\n  object X: TProbe\n",
    };
    for (const auto& text : bad) {
        TProbeForm form(nullptr);
        EXPECT_THROW(TReader(form).ReadRootComponent(text), EReadError) << text;
    }
}

TEST_F(FormTest, AnExceptionInAClickHandlerIsReportedAndTheProgramGoesOn)
{
    TProbeForm* form = nullptr;
    Application->CreateForm(form);
    std::unique_ptr<TProbeForm> owned(form);
    BoxWatcher boxes;
    QMetaObject::invokeMethod(form->Go->Widget(), "click", Qt::QueuedConnection);
    ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }));
    EXPECT_EQ(boxes.texts[0], "click failed");
    Pump(20);
    EXPECT_EQ(journal.back(), "FormCreate"); // nothing else ran, nothing crashed
}

TEST(Components, OwnedComponentsGoWithTheirOwnerLastCreatedFirst)
{
    std::vector<std::string> gone;
    struct TTracked : TComponent {
        TTracked(TComponent* owner, std::vector<std::string>& log, std::string name) : TComponent(owner), log_(log)
        {
            SetName(name);
        }
        ~TTracked() override { log_.push_back(Name() + (ComponentState() & csDestroying ? " destroying" : "")); }
        std::vector<std::string>& log_;
    };
    auto* owner = new TComponent(nullptr);
    new TTracked(owner, gone, "a");
    auto* b = new TTracked(owner, gone, "b");
    new TTracked(owner, gone, "c");
    delete b; // an owned component freed early leaves its owner's list
    EXPECT_EQ(owner->ComponentCount(), 2);
    delete owner;
    EXPECT_EQ(gone, (std::vector<std::string>{"b", "c destroying", "a destroying"}));
}
