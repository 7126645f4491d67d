// Form files: writing and reading components through their published properties.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <typeinfo>
#include <vector>

#include "host/forms/FormFile.h"
#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/KeyStoreProbe.h"

using Classes::TComponent;
using Classes::TNotifyEvent;
using System::AnsiString;

namespace {

// ---- A small component of our own, with one property of every kind and stored rule ----

int gLive = 0;  // TProbe objects alive

class EProbeRefused : public Sysutils::Exception {
 public:
  using Exception::Exception;
};

// A fixed underlying type, so that an out-of-range ordinal (as a stray stored value would give) is a
// valid value of the type rather than undefined behaviour.
enum TProbeMode : int { pmOff, pmOn, pmAuto };
enum TProbeLevel { lvLow, lvMid, lvHigh };

class TProbe : public TComponent {
 public:
  explicit TProbe(TComponent* owner) : TComponent(owner) { ++gLive; }
  ~TProbe() override { --gLive; }

  TProbeMode Mode = pmOff;     // no default: always written
  TProbeLevel Level = lvMid;   // default lvMid: written only when different
  AnsiString Text;
  AnsiString Code;             // its write accessor refuses "refuse"
  TNotifyEvent OnChange;
  std::vector<std::string> Assigned;  // property names in the order their accessors ran

  static const Classes::TClassInfo& StaticClassInfo() {
    static const Classes::TClassInfo info{"TProbe", [](TComponent* o) -> TComponent* { return new TProbe(o); },
                                          Properties()};
    return info;
  }

 private:
  static TProbe& Self(TComponent& c) { return static_cast<TProbe&>(c); }
  static const TProbe& Self(const TComponent& c) { return static_cast<const TProbe&>(c); }

  static std::vector<Classes::TPropInfo> Properties() {
    using Classes::TPropKind;
    std::vector<Classes::TPropInfo> props(5);
    props[0].Name = "Mode";
    props[0].Kind = TPropKind::Enumeration;
    props[0].EnumNames = {"pmOff", "pmOn", "pmAuto"};
    props[0].AlwaysStored = true;
    props[0].GetOrdinal = [](const TComponent& c) { return int(Self(c).Mode); };
    props[0].SetOrdinal = [](TComponent& c, int v) { Self(c).Mode = TProbeMode(v); Self(c).Assigned.push_back("Mode"); };
    props[1].Name = "Level";
    props[1].Kind = TPropKind::Enumeration;
    props[1].EnumNames = {"lvLow", "lvMid", "lvHigh"};
    props[1].DefaultOrdinal = lvMid;
    props[1].GetOrdinal = [](const TComponent& c) { return int(Self(c).Level); };
    props[1].SetOrdinal = [](TComponent& c, int v) { Self(c).Level = TProbeLevel(v); Self(c).Assigned.push_back("Level"); };
    props[2].Name = "Text";
    props[2].GetString = [](const TComponent& c) { return Self(c).Text; };
    props[2].SetString = [](TComponent& c, const AnsiString& v) { Self(c).Text = v; Self(c).Assigned.push_back("Text"); };
    props[3].Name = "Code";
    props[3].GetString = [](const TComponent& c) { return Self(c).Code; };
    props[3].SetString = [](TComponent& c, const AnsiString& v) {
      if (v == "refuse") throw EProbeRefused("Code refused");
      Self(c).Code = v;
      Self(c).Assigned.push_back("Code");
    };
    props[4].Name = "OnChange";
    props[4].Kind = TPropKind::Event;
    props[4].GetEvent = [](const TComponent& c) { return Self(c).OnChange; };
    props[4].SetEvent = [](TComponent& c, const TNotifyEvent& v) { Self(c).OnChange = v; Self(c).Assigned.push_back("OnChange"); };
    return props;
  }
};

// An application form that publishes two handlers.
class TTestForm : public Classes::TForm {
 public:
  explicit TTestForm(TComponent* owner) : TForm(owner) {
    PublishMethod("ProbeChanged", TNotifyEvent(this, &TTestForm::ProbeChanged));
    PublishMethod("OtherChanged", TNotifyEvent(this, &TTestForm::OtherChanged));
  }
  void ProbeChanged(System::TObject* sender) { Changed.push_back(static_cast<TComponent*>(sender)->Name().str() + "/probe"); }
  void OtherChanged(System::TObject* sender) { Changed.push_back(static_cast<TComponent*>(sender)->Name().str() + "/other"); }
  std::vector<std::string> Changed;
};

// A form whose handler records each status change of its components.
class TKeyForm : public Classes::TForm {
 public:
  explicit TKeyForm(TComponent* owner) : TForm(owner) {
    PublishMethod("RSA1StatusUpdate", TNotifyEvent(this, &TKeyForm::RSA1StatusUpdate));
  }
  void RSA1StatusUpdate(System::TObject* sender) {
    auto* rsa = static_cast<Rsa::TRSA*>(sender);
    Seen.push_back(rsa->Name().str() + ": " + rsa->Status().str());
  }
  std::vector<std::string> Seen;
};

// A component class that was never registered.
class TStranger : public TComponent {
 public:
  using TComponent::TComponent;
};

class FormFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Classes::RegisterClass<TProbe>();
    Classes::RegisterFormClass<TTestForm>("TTestForm");
    Classes::RegisterFormClass<TKeyForm>("TKeyForm");
  }
  void SetUp() override { gLive = 0; }
  void TearDown() override { EXPECT_EQ(gLive, 0) << "a TProbe outlived its test"; }
};

TProbe* Probe(TComponent* owner, const char* name) {
  auto* p = new TProbe(owner);
  p->SetName(name);
  return p;
}

template <class T = TComponent>
std::unique_ptr<T> Read(const std::string& text, TComponent* owner = nullptr) {
  return std::unique_ptr<T>(Classes::ReadComponentRes<T>(text, owner));
}

}  // namespace

TEST_F(FormFile, WritesPropertiesInDeclarationOrderByTheirStoredRules) {
  TTestForm form(nullptr);
  form.SetName("Form1");
  TProbe* bare = Probe(&form, "Bare");
  bare->OnChange = [](System::TObject*) {};  // run-time wiring without a published name
  TProbe* full = Probe(&form, "Full");
  full->Mode = pmAuto;
  full->Level = lvHigh;
  full->Text = "Idle";
  full->Code = "it's";
  full->OnChange = form.MethodAddress("ProbeChanged");
  EXPECT_EQ(Classes::WriteComponentRes(form),
            "object Form1: TTestForm\n"
            "  object Bare: TProbe\n"
            "    Mode = pmOff\n"
            "  end\n"
            "  object Full: TProbe\n"
            "    Mode = pmAuto\n"
            "    Level = lvHigh\n"
            "    Text = 'Idle'\n"
            "    Code = 'it''s'\n"
            "    OnChange = ProbeChanged\n"
            "  end\n"
            "end\n");
}

TEST_F(FormFile, NestedFormRoundTripsValuesAndHandlers) {
  TTestForm form(nullptr);
  form.SetName("Form1");
  TProbe* a = Probe(&form, "ProbeA");
  a->Mode = pmOn;
  a->Level = lvLow;
  a->Text = "first";
  a->OnChange = form.MethodAddress("ProbeChanged");
  TProbe* b = Probe(&form, "ProbeB");
  b->Code = "second";
  b->OnChange = form.MethodAddress("OtherChanged");
  TProbe* inner = Probe(b, "Inner");  // a component owned by a component, two levels down
  inner->Mode = pmAuto;
  const std::string text = Classes::WriteComponentRes(form);

  auto copy = Read<TTestForm>(text);
  ASSERT_EQ(copy->ComponentCount(), 2);
  EXPECT_EQ(copy->Name(), "Form1");
  auto* ra = dynamic_cast<TProbe*>(copy->FindComponent("ProbeA"));
  auto* rb = dynamic_cast<TProbe*>(copy->FindComponent("ProbeB"));
  ASSERT_TRUE(ra && rb);
  EXPECT_EQ(ra->Owner(), copy.get());
  EXPECT_EQ(ra->Mode, pmOn);
  EXPECT_EQ(ra->Level, lvLow);
  EXPECT_EQ(ra->Text, "first");
  EXPECT_EQ(rb->Mode, pmOff);
  EXPECT_EQ(rb->Level, lvMid);
  EXPECT_EQ(rb->Code, "second");
  auto* ri = dynamic_cast<TProbe*>(rb->FindComponent("Inner"));
  ASSERT_TRUE(ri);
  EXPECT_EQ(ri->Mode, pmAuto);
  // The handlers are the new form's own, found by name.
  EXPECT_EQ(ra->OnChange.Name(), "ProbeChanged");
  EXPECT_EQ(rb->OnChange.Name(), "OtherChanged");
  EXPECT_FALSE(ri->OnChange.Assigned());
  ra->OnChange(ra);
  rb->OnChange(rb);
  EXPECT_EQ(copy->Changed, (std::vector<std::string>{"ProbeA/probe", "ProbeB/other"}));
  EXPECT_TRUE(form.Changed.empty());
  // Writing the copy gives the same text.
  EXPECT_EQ(Classes::WriteComponentRes(*copy), text);
}

TEST_F(FormFile, AnyByteSurvivesInAString) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += char(c);
  const struct {
    std::string value;
    std::string literal;  // empty: only the round trip is checked
  } cases[] = {
      {"it's", "'it''s'"},
      {"''", "''''''"},
      {"'", "''''"},
      {std::string("\0", 1), "#0"},
      {std::string("a\0b", 3), "'a'#0'b'"},
      {"\x80\xff", "#128#255"},
      {"caf\xc3\xa9", "'caf'#195#169"},
      {"line1\r\nline2", "'line1'#13#10'line2'"},
      {"#1 + 'x'", "'#1 + ''x'''"},
      {" padded ", "' padded '"},
      {all, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.value));
    TProbe probe(nullptr);
    probe.SetName("P");
    probe.Text = c.value;
    const std::string text = Classes::WriteComponentRes(probe);
    if (!c.literal.empty()) {
      EXPECT_NE(text.find("  Text = " + c.literal + "\n"), std::string::npos) << text;
    }
    for (char ch : text) EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7f)) << "raw byte written";
    auto copy = Read<TProbe>(text);
    EXPECT_EQ(copy->Text.str(), c.value);
  }
}

TEST_F(FormFile, ReadsWhatAPersonMightWrite) {
  // CR LF line ends, a byte-order mark, tabs, blank lines, an unnamed object, hex codes, a string
  // continued over lines, and properties in an order of the author's choosing.
  const std::string text =
      "\xEF\xBB\xBFobject Form1 : TTestForm\r\n"
      "\r\n"
      "\tobject TProbe\r\n"
      "\t\tCode = 'ab' +\r\n"
      "\t\t   'cd'#$41 +\r\n"
      "\t\t   #33\r\n"
      "\t\tText = 'x'\r\n"
      "\t\tMode = pmOn\r\n"
      "\tend\r\n"
      "end   \r\n\r\n";
  auto form = Read<TTestForm>(text);
  ASSERT_EQ(form->ComponentCount(), 1);
  auto* probe = dynamic_cast<TProbe*>(form->Components(0));
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->Name(), "");
  EXPECT_EQ(probe->Code, "abcdA!");
  EXPECT_EQ(probe->Mode, pmOn);
  // The accessors ran in declaration order, not in the order of the lines.
  EXPECT_EQ(probe->Assigned, (std::vector<std::string>{"Mode", "Text", "Code"}));
  // An unnamed component is written without a name and reads back.
  TProbe lone(nullptr);
  EXPECT_EQ(Classes::WriteComponentRes(lone), "object TProbe\n  Mode = pmOff\nend\n");
  EXPECT_EQ(Read<TProbe>(Classes::WriteComponentRes(lone))->Name(), "");
}

TEST_F(FormFile, AccessorsRunInDeclarationOrderForAWrittenFile) {
  TProbe probe(nullptr);
  probe.Mode = pmOn;
  probe.Level = lvHigh;
  probe.Text = "t";
  probe.Code = "c";
  auto copy = Read<TProbe>(Classes::WriteComponentRes(probe));
  EXPECT_EQ(copy->Assigned, (std::vector<std::string>{"Mode", "Level", "Text", "Code"}));
}

TEST_F(FormFile, HandlersOfALoneComponentResolveThroughItsOwner) {
  TTestForm form(nullptr);
  auto copy = Read<TProbe>("object P: TProbe\n  OnChange = OtherChanged\nend\n", &form);
  EXPECT_EQ(copy->Owner(), &form);
  copy->OnChange(copy.get());
  EXPECT_EQ(form.Changed, (std::vector<std::string>{"P/other"}));
  // Without an owner that publishes it, the name is unknown.
  EXPECT_THROW(Read("object P: TProbe\n  OnChange = OtherChanged\nend\n"), Classes::EReadError);
}

TEST_F(FormFile, MalformedTextIsRefusedNamingTheLineAndLeavesNothingBehind) {
  std::string deep;
  for (int i = 0; i < Classes::MaxFormDepth + 1; ++i) deep += "object TProbe\n";
  const struct {
    const char* name;
    std::string text;
    bool classNotFound;
    std::string message;
  } cases[] = {
      {"empty text", "", false, "Form file line 1: expected 'object', but the text is empty"},
      {"blank text", "  \n\n", false, "Form file line 1: expected 'object', but the text is empty"},
      {"no object keyword", "Mode = pmOn\n", false, "Form file line 1: expected 'object'"},
      {"unknown root class", "object X: TNoSuchClass\nend\n", true, "Form file line 1: class TNoSuchClass is not registered"},
      {"unknown nested class", "object F: TTestForm\n  object A: TProbe\n  end\n  object B: TNoSuch\n  end\nend\n", true,
       "Form file line 4: class TNoSuch is not registered"},
      {"header without class", "object F:\nend\n", false, "Form file line 1: expected a class name after ':'"},
      {"header with extra text", "object F: TProbe x\nend\n", false, "Form file line 1: unexpected text after the class name"},
      {"unknown property", "object P: TProbe\n  Mode = pmOn\n  Colour = pmOn\nend\n", false,
       "Form file line 3: TProbe has no property 'Colour'"},
      {"bad enumeration identifier", "object P: TProbe\n  Mode = pmMaybe\nend\n", false,
       "Form file line 2: 'pmMaybe' is not a value of Mode (pmOff, pmOn, pmAuto)"},
      {"enumeration given a string", "object P: TProbe\n  Mode = 'pmOn'\nend\n", false,
       "Form file line 2: Mode expects one of pmOff, pmOn, pmAuto"},
      {"string given an identifier", "object P: TProbe\n  Text = hello\nend\n", false, "Form file line 2: Text expects a string"},
      {"malformed line", "object P: TProbe\n  Mode pmOn\nend\n", false,
       "Form file line 2: expected a property, 'object' or 'end'"},
      {"text after a value", "object P: TProbe\n  Text = 'a' 'b'\nend\n", false,
       "Form file line 2: unexpected text after the value of Text"},
      {"unterminated string", "object P: TProbe\n  Mode = pmOn\n  Text = 'abc\nend\n", false,
       "Form file line 3: unterminated string"},
      {"doubled quote at the end", "object P: TProbe\n  Text = 'abc''\nend\n", false, "Form file line 2: unterminated string"},
      {"character code too large", "object P: TProbe\n  Text = #256\nend\n", false,
       "Form file line 2: character code out of range (0 to 255)"},
      {"huge character code", "object P: TProbe\n  Text = #99999999999999999999\nend\n", false,
       "Form file line 2: character code out of range (0 to 255)"},
      {"hash without code", "object P: TProbe\n  Text = 'a'#\nend\n", false,
       "Form file line 2: '#' must be followed by a character code"},
      {"continuation past the end", "object P: TProbe\n  Text = 'a' +\n", false,
       "Form file line 2: the string continues past the end of the text"},
      {"missing end", "object F: TTestForm\n  object P: TProbe\n    Mode = pmOn\n  end\n", false,
       "Form file line 4: object F begun on line 1 has no 'end'"},
      {"text after the final end", "object P: TProbe\nend\nend\n", false, "Form file line 3: unexpected text after the final 'end'"},
      {"unknown handler", "object F: TTestForm\n  object P: TProbe\n    OnChange = NoSuchHandler\n  end\nend\n", false,
       "Form file line 3: handler 'NoSuchHandler' is not published by 'F'"},
      {"duplicate name", "object F: TTestForm\n  object P: TProbe\n  end\n  object P: TProbe\n  end\nend\n", false,
       "Form file line 4: a component named 'P' already exists"},
      {"nested too deep", deep, false, "Form file line 65: objects are nested more than 64 levels deep"},
  };
  TTestForm owner(nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      Classes::ReadComponentRes(c.text, &owner);
      ADD_FAILURE() << "accepted";
    } catch (const Classes::EClassNotFound& e) {
      EXPECT_TRUE(c.classNotFound);
      EXPECT_EQ(e.Message().str(), c.message);
    } catch (const Classes::EReadError& e) {
      EXPECT_FALSE(c.classNotFound);
      EXPECT_EQ(e.Message().str(), c.message);
    }
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_EQ(gLive, 0);
  }
}

TEST_F(FormFile, AWriteAccessorsExceptionPropagatesAndTheReadIsUndone) {
  TTestForm owner(nullptr);
  Probe(&owner, "Kept")->Text = "loaded before";
  const std::string text =
      "object F: TTestForm\n"
      "  object A: TProbe\n"
      "    Code = 'fine'\n"
      "  end\n"
      "  object B: TProbe\n"
      "    Code = 'refuse'\n"
      "  end\n"
      "end\n";
  try {
    Classes::ReadComponentRes(text, &owner);
    FAIL() << "accepted";
  } catch (const EProbeRefused& e) {
    EXPECT_STREQ(e.what(), "Code refused");
  }
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(static_cast<TProbe*>(owner.Components(0))->Text, "loaded before");
  EXPECT_EQ(gLive, 1);
  // The name already in use by the owner is refused before anything is created.
  EXPECT_THROW(Classes::ReadComponentRes("object Kept: TProbe\nend\n", &owner), Classes::EReadError);
  EXPECT_EQ(owner.ComponentCount(), 1);
}

TEST_F(FormFile, TypedReadRefusesAnotherRootClass) {
  const std::string text = "object F: TTestForm\n  object P: TProbe\n  end\nend\n";
  try {
    Classes::ReadComponentRes<TProbe>(text, nullptr);
    FAIL() << "accepted";
  } catch (const Classes::EReadError& e) {
    EXPECT_EQ(e.Message(), "Form file: the root object is a TTestForm, expected a TProbe");
  }
}

TEST_F(FormFile, WritingRefusesWhatCouldNotBeReadBack) {
  TStranger stranger(nullptr);
  stranger.SetName("S");
  EXPECT_THROW(Classes::WriteComponentRes(stranger), Classes::EWriteError);
  TTestForm form(nullptr);
  new TStranger(&form);  // an owned component of an unregistered class
  EXPECT_THROW(Classes::WriteComponentRes(form), Classes::EWriteError);

  TProbe probe(nullptr);
  for (const char* name : {"two words", "1st", "a:b", "Ünicode"}) {
    probe.SetName(name);
    EXPECT_THROW(Classes::WriteComponentRes(probe), Classes::EWriteError) << name;
  }
  probe.SetName("P");
  probe.OnChange = TNotifyEvent([](System::TObject*) {}).SetName("not an identifier");
  EXPECT_THROW(Classes::WriteComponentRes(probe), Classes::EWriteError);
  probe.OnChange = nullptr;
  probe.Mode = TProbeMode(7);
  EXPECT_THROW(Classes::WriteComponentRes(probe), Classes::EWriteError);
}

TEST_F(FormFile, FilesRoundTripAndErrorsNameTheFile) {
  const auto dir = std::filesystem::temp_directory_path() / ("formfile_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "probe.txt").string();
  TProbe probe(nullptr);
  probe.SetName("P");
  probe.Text = std::string("a\0b", 3);
  Classes::WriteComponentResFile(path, probe);
  probe.Text = "replaced";
  Classes::WriteComponentResFile(path, probe);  // replaces the existing file
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp~"));
  auto copy = std::unique_ptr<TProbe>(Classes::ReadComponentResFile<TProbe>(path, nullptr));
  EXPECT_EQ(copy->Text, "replaced");

  std::ofstream(path, std::ios::binary) << "object P: TProbe\n  Text = 'open\nend\n";
  try {
    Classes::ReadComponentResFile(path, nullptr);
    FAIL() << "accepted";
  } catch (const Classes::EReadError& e) {
    EXPECT_EQ(e.Message().str(), path + " line 2: unterminated string");
  }
  EXPECT_THROW(Classes::ReadComponentResFile((dir / "missing.txt").string(), nullptr), Classes::EFilerError);
  EXPECT_THROW(Classes::WriteComponentResFile((dir / "no" / "such" / "dir.txt").string(), probe), Classes::EFilerError);
  std::filesystem::remove_all(dir);
}

// ---- The RSA component in form files ----

TEST_F(FormFile, ComponentWithoutKeysRoundTripsItsSettings) {
  Classes::TForm form(nullptr);
  form.SetName("Form1");
  auto* rsa = new Rsa::TRSA(&form);
  rsa->SetName("RSA1");
  rsa->SetKeyBits(Rsa::kb2048);
  rsa->SetSymKeyLength(Rsa::sk192);
  rsa->SetStatus("Idle");
  auto* second = new Rsa::TRSA(&form);
  second->SetName("RSA2");
  const std::string text = Classes::WriteComponentRes(form);
  EXPECT_EQ(text,
            "object Form1: TForm\n"
            "  object RSA1: TRSA\n"
            "    KeyBits = kb2048\n"
            "    Status = 'Idle'\n"
            "    SymKeyLength = sk192\n"
            "  end\n"
            "  object RSA2: TRSA\n"
            "    KeyBits = kb0512\n"
            "    SymKeyLength = sk64\n"
            "  end\n"
            "end\n");
  auto copy = Read<Classes::TForm>(text);
  auto* r1 = dynamic_cast<Rsa::TRSA*>(copy->FindComponent("RSA1"));
  auto* r2 = dynamic_cast<Rsa::TRSA*>(copy->FindComponent("RSA2"));
  ASSERT_TRUE(r1 && r2);
  EXPECT_EQ(r1->KeyBits(), Rsa::kb2048);
  EXPECT_EQ(r1->GetPrecision(), 64);
  EXPECT_EQ(r1->SymKeyLength(), Rsa::sk192);
  EXPECT_EQ(r1->Status(), "Idle");  // the stored status, applied after SetKeyBits reported the key size
  // KeyBits is always stored, so even a component at the start value gets its precision.
  EXPECT_EQ(r2->GetPrecision(), 16);
  EXPECT_EQ(r2->Status(), "TRSA using 512 bit key");
}

namespace {

using Rsa::BigNum;

// Key store numbers with every digit below the precision set (so each field has its full length),
// and the texts that load them.
struct KeyTexts {
  BigNum e{}, n{}, d{}, s{};
  std::string Public, Private, Signature;
};

KeyTexts MakeKeyTexts(int precision, Rsa::Digit seed) {
  KeyTexts k;
  k.e[0] = 65537;
  for (int i = 0; i < precision; ++i) {
    k.n[i] = seed * Rsa::Digit(2 * i + 1) + Rsa::Digit(i) + 1;
    k.d[i] = seed * Rsa::Digit(3 * i + 7) + 5;
    k.s[i] = seed ^ Rsa::Digit(0x9E3779B9u * Rsa::Digit(i + 1));
  }
  k.n[precision - 1] |= 0x80000000u;
  k.d[precision - 1] |= 0x40000000u;
  k.Public = (Rsa::KeyFieldText(k.e) + ":" + Rsa::KeyFieldText(k.n)).str();
  k.Private = (Rsa::KeyFieldText(k.n) + ":" + Rsa::KeyFieldText(k.d)).str();
  k.Signature = Rsa::SignatureText(k.s, precision).str();
  return k;
}

bool Same(const BigNum& a, const BigNum& b) { return std::equal(a.Digits, a.Digits + Rsa::BigNumDigits, b.Digits); }

void ExpectKeys(Rsa::TRSA& rsa, const KeyTexts& k, bool withPrivate) {
  BigNum e, n, d;
  rsa.GetPublicKey(e, n);
  EXPECT_TRUE(Same(e, k.e));
  EXPECT_TRUE(Same(n, k.n));
  EXPECT_EQ(rsa.PublicKey(), k.Public);
  EXPECT_EQ(Testing::PrivateLoaded(rsa), withPrivate);
  if (withPrivate) {
    rsa.GetPrivateKey(n, d);
    EXPECT_TRUE(Same(d, k.d));
    EXPECT_EQ(rsa.PrivateKey(), k.Private);
  }
}

}  // namespace

TEST_F(FormFile, KeysRoundTripThroughAFormOfSeveralComponents) {
  const KeyTexts k512 = MakeKeyTexts(16, 0x1234567u), k1024 = MakeKeyTexts(32, 0x89ABCDEu);
  TKeyForm form(nullptr);
  form.SetName("Form1");
  auto* rsa1 = new Rsa::TRSA(&form);
  rsa1->SetName("RSA1");
  rsa1->SetKeyBits(Rsa::kb0512);
  rsa1->PutPublicKey(k512.Public);
  rsa1->PutPrivateKey(k512.Private);
  rsa1->PutSignature(k512.Signature);
  rsa1->SetSymKeyLength(Rsa::sk256);
  rsa1->SetStatus("Idle");
  rsa1->SetOnStatusUpdate(form.MethodAddress("RSA1StatusUpdate"));
  auto* rsa2 = new Rsa::TRSA(&form);
  rsa2->SetName("RSA2");
  rsa2->SetKeyBits(Rsa::kb1024);
  rsa2->PutPublicKey(k1024.Public);

  const std::string text = Classes::WriteComponentRes(form);
  EXPECT_EQ(text,
            "object Form1: TKeyForm\n"
            "  object RSA1: TRSA\n"
            "    KeyBits = kb0512\n"
            "    PublicKey = '" + k512.Public + "'\n"
            "    PrivateKey = '" + k512.Private + "'\n"
            "    Signature = '" + k512.Signature + "'\n"
            "    Status = 'Idle'\n"
            "    SymKeyLength = sk256\n"
            "    OnStatusUpdate = RSA1StatusUpdate\n"
            "  end\n"
            "  object RSA2: TRSA\n"
            "    KeyBits = kb1024\n"
            "    PublicKey = '" + k1024.Public + "'\n"
            "    Status = 'Public key loaded OK'\n"
            "    SymKeyLength = sk64\n"
            "  end\n"
            "end\n");

  auto copy = Read<TKeyForm>(text);
  auto* r1 = dynamic_cast<Rsa::TRSA*>(copy->FindComponent("RSA1"));
  auto* r2 = dynamic_cast<Rsa::TRSA*>(copy->FindComponent("RSA2"));
  ASSERT_TRUE(r1 && r2);
  EXPECT_EQ(r1->GetPrecision(), 16);
  ExpectKeys(*r1, k512, true);
  EXPECT_TRUE(Testing::SignatureLoaded(*r1));
  EXPECT_TRUE(Same(Testing::SigValueOf(*r1), k512.s));
  EXPECT_EQ(r1->Signature(), k512.Signature);
  EXPECT_EQ(r1->Status(), "Idle");
  EXPECT_EQ(r1->SymKeyLength(), Rsa::sk256);
  EXPECT_EQ(r2->GetPrecision(), 32);
  ExpectKeys(*r2, k1024, false);
  EXPECT_FALSE(Testing::SignatureLoaded(*r2));
  EXPECT_EQ(r2->Status(), "Public key loaded OK");
  EXPECT_FALSE(r2->OnStatusUpdate().Assigned());
  // The handler is the new form's, attached last, so it saw nothing of the read itself.
  EXPECT_EQ(r1->OnStatusUpdate().Name(), "RSA1StatusUpdate");
  EXPECT_TRUE(copy->Seen.empty());
  r1->SetKeyBits(Rsa::kb2048);
  EXPECT_EQ(copy->Seen, (std::vector<std::string>{"RSA1: TRSA using 2048 bit key"}));
  EXPECT_TRUE(form.Seen.empty());
}

// The larger key sizes are stored by their identifiers and read back with keys and signature at K
// bytes (384 and 512).
TEST_F(FormFile, LargerKeySizesRoundTripByIdentifier) {
  const struct {
    Rsa::TKeyBits bits;
    int precision;
    const char* name;
  } sizes[] = {{Rsa::kb3072, 96, "kb3072"}, {Rsa::kb4096, 128, "kb4096"}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(size.name);
    const KeyTexts k = MakeKeyTexts(size.precision, 0xC0DE0000u + Rsa::Digit(size.precision));
    Rsa::TRSA rsa(nullptr);
    rsa.SetName("RSA1");
    rsa.SetKeyBits(size.bits);
    rsa.PutPublicKey(k.Public);
    rsa.PutPrivateKey(k.Private);
    rsa.PutSignature(k.Signature);
    const std::string text = Classes::WriteComponentRes(rsa);
    EXPECT_NE(text.find(std::string("\n  KeyBits = ") + size.name + "\n"), std::string::npos) << text;

    auto copy = Read<Rsa::TRSA>(text);
    EXPECT_EQ(copy->KeyBits(), size.bits);
    EXPECT_EQ(copy->GetPrecision(), size.precision);
    ExpectKeys(*copy, k, true);
    EXPECT_TRUE(Same(Testing::SigValueOf(*copy), k.s));
  }
}

TEST_F(FormFile, ALoneComponentIsAKeyFile) {
  const KeyTexts k = MakeKeyTexts(32, 0x5EED5u);
  Rsa::TRSA rsa(nullptr);
  rsa.SetName("RSA1");
  rsa.SetKeyBits(Rsa::kb1024);
  rsa.PutPublicKey(k.Public);
  rsa.PutPrivateKey(k.Private);
  const auto path = std::filesystem::temp_directory_path() / ("formfile_key_" + std::to_string(::getpid()) + ".txt");
  Classes::WriteComponentResFile(path.string(), rsa);
  auto copy = std::unique_ptr<Rsa::TRSA>(Classes::ReadComponentResFile<Rsa::TRSA>(path.string(), nullptr));
  std::filesystem::remove(path);
  EXPECT_EQ(copy->Name(), "RSA1");
  EXPECT_EQ(copy->Owner(), nullptr);
  ExpectKeys(*copy, k, true);
  EXPECT_EQ(copy->Status(), "Private key loaded OK");
}

TEST_F(FormFile, KeyBitsIsAppliedBeforeTheKeyTextsWhereverItsLineStands) {
  // The key texts are only valid at 1024 bits; KeyBits stands below them, and the handler above them.
  // Declaration order applies KeyBits first and the handler last, after the key loads.
  const KeyTexts k = MakeKeyTexts(32, 0xF00Du);
  const std::string text =
      "object F: TKeyForm\n"
      "  object RSA1: TRSA\n"
      "    OnStatusUpdate = RSA1StatusUpdate\n"
      "    Signature = '" + k.Signature + "'\n"
      "    PrivateKey = '" + k.Private + "'\n"
      "    PublicKey = '" + k.Public + "'\n"
      "    SymKeyLength = sk192\n"
      "    KeyBits = kb1024\n"
      "  end\n"
      "end\n";
  auto form = Read<TKeyForm>(text);
  auto* rsa = static_cast<Rsa::TRSA*>(form->FindComponent("RSA1"));
  ExpectKeys(*rsa, k, true);
  EXPECT_EQ(rsa->SymKeyLength(), Rsa::sk192);
  EXPECT_EQ(rsa->Status(), "Private key loaded OK");
  EXPECT_TRUE(form->Seen.empty());
  ASSERT_TRUE(rsa->OnStatusUpdate().Assigned());
  rsa->DoStatusUpdate();
  EXPECT_EQ(form->Seen, (std::vector<std::string>{"RSA1: Private key loaded OK"}));
}

TEST_F(FormFile, AKeyTextThatDoesNotFitFailsWithTheComponentsOwnException) {
  const KeyTexts k512 = MakeKeyTexts(16, 0x77u), k1024 = MakeKeyTexts(32, 0x99u);
  const struct {
    const char* name;
    std::string body;
    const std::type_info& type;
    const char* message;
  } cases[] = {
      {"1024-bit public key at kb0512", "KeyBits = kb0512\n PublicKey = '" + k1024.Public + "'", typeid(Rsa::EInvalidKey),
       "Public key has incorrect length"},
      {"512-bit private key at kb1024", "KeyBits = kb1024\n PrivateKey = '" + k512.Private + "'", typeid(Rsa::EInvalidKey),
       "Private key has incorrect length"},
      {"1024-bit signature at kb0512", "KeyBits = kb0512\n Signature = '" + k1024.Signature + "'",
       typeid(Sysutils::EConvertError), "Signature has incorrect length"},
      {"key without KeyBits", "PublicKey = '" + k512.Public + "'", typeid(Rsa::EInvalidKey), "Public key has incorrect length"},
      {"not a key text", "KeyBits = kb0512\n PublicKey = 'no colon'", typeid(Rsa::EInvalidKey), "Public key not valid"},
      {"key text split by a line end", "KeyBits = kb0512\n PublicKey = 'abc'#10'def:ghi'", typeid(Sysutils::EConvertError),
       "Public key not valid"},
  };
  TKeyForm owner(nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = "object F: TKeyForm\n object RSA1: TRSA\n " + c.body + "\n end\nend\n";
    try {
      Classes::ReadComponentRes(text, &owner);
      ADD_FAILURE() << "accepted";
    } catch (const Sysutils::Exception& e) {
      EXPECT_EQ(typeid(e), c.type) << typeid(e).name();
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(owner.ComponentCount(), 0);
  }
}
