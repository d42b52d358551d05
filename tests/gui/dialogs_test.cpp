// The Basic Test and Extra Test settings dialogs, driven through their controls and handlers.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <vector>

#include "settings/ini_file.h"
#include "settings/run_state.h"
#include "settings/test_settings.h"
#include "tools/screenshots/dialog_shots.h"
#include "ui/basic_test_dialog.h"
#include "ui/extra_test_dialog.h"
#include "ui/text.h"

using namespace quenby;

namespace {

template <typename T>
T* control(QWidget& dialog, const char* name) {
  T* found = dialog.findChild<T*>(QString::fromLatin1(name));
  if (!found) qFatal("no control %s", name);
  return found;
}

QCheckBox* box(QWidget& dialog, const char* name) { return control<QCheckBox>(dialog, name); }

QString textOf(QWidget& dialog, const char* name) {
  if (auto* combo = dialog.findChild<QComboBox*>(QString::fromLatin1(name))) return combo->currentText();
  return control<QLineEdit>(dialog, name)->text();
}

void type(QWidget& dialog, const char* name, const QString& text) {
  if (auto* combo = dialog.findChild<QComboBox*>(QString::fromLatin1(name)))
    combo->setEditText(text);
  else
    control<QLineEdit>(dialog, name)->setText(text);
}

// Runs OK and returns the message it stopped with, or an empty text when it went through.
template <typename Dialog>
QString pressOk(Dialog& dialog) {
  try {
    dialog.BtnOKClick();
  } catch (const SettingsError& error) {
    return QString::fromStdString(error.what());
  }
  return {};
}

#define STORED(member, value) [](const TestSettings& s) { return s.member == (value); }

// The fields of the Basic dialog in the order OK stores them, with a new text for each;
// `kind` says how the field converts ('t' text, 'i' integer, 'r' real).
struct OkStep {
  const char* control;
  const char* text;
  char kind;
  std::function<bool(const TestSettings&)> stored;
};

const std::vector<OkStep>& okSteps() {
  static const std::vector<OkStep> steps = {
      {"EditFailCode_UpdateHz", "U1", 't', STORED(updateHzFailCode, "U1")},
      {"EditDownload_FailCode", "D1", 't', STORED(flashDownloadFailCode, "D1")},
      {"EditMTKVersion", "M1", 't', STORED(versionMtk, "M1")},
      {"EditCustomerVersion", "C1", 't', STORED(versionCustomer, "C1")},
      {"EditProductModelrVersion", "P1", 't', STORED(versionProductModel, "P1")},
      {"EditSDKver", "S1", 't', STORED(versionSdkVer, "S1")},
      {"EditTimeout_Version", "11", 'i', STORED(versionTimeout, 11)},
      {"EditVersion_FailCode", "V1", 't', STORED(versionFailCode, "V1")},
      {"CmbSV", "7", 'i', STORED(svId, 7)},
      {"EditAcqTime", "12", 'i', STORED(acqTimeTimeout, 12)},
      {"EditFailCode_Acq", "A1\r\nB", 't', STORED(acqTimeFailCode, "A1")},  // pasted lines
      {"EditBitSync", "13", 'i', STORED(bitSyncTimeout, 13)},
      {"EditFailCode_BitSync", "B1", 't', STORED(bitSyncFailCode, "B1")},
      {"EditTimeout_Signal", "14", 'i', STORED(signalTimeout, 14)},
      {"EditPhaseError", "0.5", 'r', STORED(signalPhaseRatio, 0.5f)},
      {"EditPhaseFailCode", "PH", 't', STORED(signalPhaseFailCode, "PH")},
      {"EditClockOffset", "41.5", 'r', STORED(signalTcxoOffset, 41.5f)},
      {"EditClockDrift", "0.25", 'r', STORED(signalTcxoDrift, 0.25f)},
      {"EditTCXOFailCode", "T1", 't', STORED(signalTcxoFailCode, "T1")},
      {"EditCNR", "38.5", 'r', STORED(signalCnrThreshold, 38.5f)},
      {"EditCNRDev", "2.5", 'r', STORED(signalCnrDev, 2.5f)},
      {"EditCNRFailCode", "N1", 't', STORED(signalCnrFailCode, "N1")},
      {"EditColdStart", "15", 'i', STORED(coldStartTimeout, 15)},
      {"EditFailCode_CTTFF", "CT", 't', STORED(coldStartFailCode, "CT")},
      {"EditTimeout_Reset", "16", 'i', STORED(resetTimeout, 16)},
      {"EditFailCode_Reset", "R1", 't', STORED(resetFailCode, "R1")},
      {"CmbGLL", "2", 'i', STORED(nmeaFreqGll, 2)},
      {"CmbRMC", "3", 'i', STORED(nmeaFreqRmc, 3)},
      {"CmbVTG", "4", 'i', STORED(nmeaFreqVtg, 4)},
      {"CmbGGA", "5", 'i', STORED(nmeaFreqGga, 5)},
      {"CmbGSA", "6", 'i', STORED(nmeaFreqGsa, 6)},
      {"CmbGSV", "7", 'i', STORED(nmeaFreqGsv, 7)},
      {"CmbZDA", "8", 'i', STORED(nmeaFreqZda, 8)},
      {"CmbMCHN", "9", 'i', STORED(nmeaFreqMchn, 9)},
      {"EditTimeout_NMEA", "17", 'i', STORED(nmeaTimeout, 17)},
      {"EditFailCode_NMEA", "NM", 't', STORED(nmeaFailCode, "NM")},
      {"CmbHz", "2.5", 'r', STORED(updateHz, 2.5f)},
      {"EditTimeout_Hz", "18", 'i', STORED(hzTimeout, 18)},
  };
  return steps;
}

struct Record {
  TestSettings settings;
  RunState state;
};

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void basicFillFollowsTheSingleChannelChain_data();
  void basicFillFollowsTheSingleChannelChain();
  void basicEnableChainHoldsBothWays();
  void basicShowsRealsInTheirFixedForms();
  void basicOkStopsAtTheFieldThatDoesNotConvert();
  void basicNumberTexts();
  void basicSvIdOutsideTheListOpensEmpty();
  void basicCancelKeepsSettingsButDownloadSeesTheBox();
  void engineTextsShowUtf8AndStrayBytesAsLatin1();
  void okStoresOnlyWhatTheOperatorChanged();
  void extraMacRangeCheck_data();
  void extraMacRangeCheck();
  void extraOctetTexts();
  void extraHiddenBluetoothPageClearsTheBit();
  void dialogShotsWriteThreePictures();
};

void DialogsTest::basicFillFollowsTheSingleChannelChain_data() {
  QTest::addColumn<int>("items");
  QTest::addColumn<QString>("shown");  // Acq, BitSync, Signal: checked "x", unchecked "-", disabled "_"
  QTest::addColumn<int>("afterOk");
  QTest::newRow("0x18: bit sync and signal without acquisition") << 0x18 << "-__" << 0x00;
  QTest::newRow("0x14: signal without bit sync") << 0x14 << "x-_" << 0x04;
  QTest::newRow("0x1C: the whole chain") << 0x1C << "xxx" << 0x1C;
  QTest::newRow("0x0C: no signal") << 0x0C << "xx-" << 0x0C;
  QTest::newRow("other items and bit 0x400 stay") << 0x83453 << "-__" << 0x83443;
  QTest::newRow("every bit set") << -1 << "xxx" << -1;
}

void DialogsTest::basicFillFollowsTheSingleChannelChain() {
  QFETCH(int, items);
  QFETCH(QString, shown);
  QFETCH(int, afterOk);
  Record st;
  st.settings.svId = 1;
  st.settings.enableTest = items;
  TFormSuggest dialog(st.settings, st.state);
  dialog.present();

  const char* chain[] = {"ChkAcq", "ChkBitSync", "ChkSignal"};
  QString seen;
  for (const char* name : chain) {
    QCheckBox* b = box(dialog, name);
    seen += b->isChecked() ? 'x' : (b->isEnabled() ? '-' : '_');
  }
  QCOMPARE(seen, shown);
  QCOMPARE(box(dialog, "ChkDownload")->isChecked(), (items & 0x1) != 0);
  QCOMPARE(box(dialog, "ChkUpdateHz")->isChecked(), (items & 0x80000) != 0);

  QCOMPARE(pressOk(dialog), QString());
  QCOMPARE(st.settings.enableTest, afterOk);
  QVERIFY(!dialog.isVisible());
}

void DialogsTest::basicEnableChainHoldsBothWays() {
  Record st;
  st.settings.svId = 1;
  st.settings.enableTest = 0x1C;
  TFormSuggest dialog(st.settings, st.state);
  dialog.present();
  QCheckBox* acq = box(dialog, "ChkAcq");
  QCheckBox* bitSync = box(dialog, "ChkBitSync");
  QCheckBox* signal = box(dialog, "ChkSignal");
  const auto state = [&] {
    QString s;
    for (QCheckBox* b : {acq, bitSync, signal}) s += b->isChecked() ? 'x' : (b->isEnabled() ? '-' : '_');
    return s;
  };

  acq->click();
  QCOMPARE(state(), QStringLiteral("-__"));
  acq->click();
  QCOMPARE(state(), QStringLiteral("x-_"));
  bitSync->click();
  QCOMPARE(state(), QStringLiteral("xx-"));
  signal->click();
  QCOMPARE(state(), QStringLiteral("xxx"));
  bitSync->click();
  QCOMPARE(state(), QStringLiteral("x-_"));

  // An opening with the whole chain set enables it all again.
  dialog.present();
  QCOMPARE(state(), QStringLiteral("xxx"));
}

void DialogsTest::basicShowsRealsInTheirFixedForms() {
  Record st;
  st.settings.svId = 1;
  st.settings.signalTcxoDrift = 0.8184f;
  st.settings.signalTcxoOffset = 40.92f;
  st.settings.signalCnrThreshold = 40.0f;
  st.settings.signalCnrDev = 1.0f;
  st.settings.signalPhaseRatio = 0.85f;
  st.settings.updateHz = 1.0f;
  const TestSettings loaded = st.settings;
  TFormSuggest dialog(st.settings, st.state);
  dialog.present();

  QCOMPARE(textOf(dialog, "EditClockDrift"), QStringLiteral("0.8184"));
  QCOMPARE(textOf(dialog, "EditClockOffset"), QStringLiteral("40.920"));
  QCOMPARE(textOf(dialog, "EditCNR"), QStringLiteral("40.0"));
  QCOMPARE(textOf(dialog, "EditCNRDev"), QStringLiteral("1.0"));
  QCOMPARE(textOf(dialog, "EditPhaseError"), QStringLiteral("0.85"));
  QCOMPARE(textOf(dialog, "CmbHz"), QStringLiteral("1"));

  // Reading the shown forms back gives the very values that were loaded.
  QCOMPARE(pressOk(dialog), QString());
  QVERIFY(st.settings == loaded);
}

void DialogsTest::basicOkStopsAtTheFieldThatDoesNotConvert() {
  const auto& steps = okSteps();
  for (std::size_t bad = 0; bad <= steps.size(); ++bad) {
    const bool failing = bad < steps.size() && steps[bad].kind != 't';
    if (bad < steps.size() && !failing) continue;
    Record st;
    st.settings.svId = 1;
    st.settings.enableTest = 0x400;
    TFormSuggest dialog(st.settings, st.state);
    dialog.present();
    for (const char* name : {"ChkVersion", "ChkAcq", "ChkNMEA", "ChkUpdateHz"}) box(dialog, name)->click();
    for (const OkStep& step : steps) type(dialog, step.control, QString::fromLatin1(step.text));
    if (failing) type(dialog, steps[bad].control, QStringLiteral("4O"));

    const QString expected =
        !failing ? QString()
        : steps[bad].kind == 'i' ? QStringLiteral("'4O' is not a valid integer value")
                                 : QStringLiteral("'4O' is not a valid floating point value");
    const QByteArray where = failing ? QByteArray(steps[bad].control) : QByteArray("no bad field");
    QVERIFY2(pressOk(dialog) == expected, where);
    QVERIFY2(dialog.isVisible() == failing, where);
    QVERIFY2(st.settings.enableTest == 0x82406, where);  // the nine bits come first
    for (std::size_t k = 0; k < steps.size(); ++k)
      QVERIFY2(steps[k].stored(st.settings) == (k < bad),
               where + " then " + QByteArray(steps[k].control));
  }
}

void DialogsTest::basicNumberTexts() {
  struct Case {
    const char* control;
    const char* text;
    const char* message;  // empty when the text converts
    std::function<bool(const TestSettings&)> stored;
  };
  const Case cases[] = {
      {"CmbGLL", "12", "", STORED(nmeaFreqGll, 12)},  // the list is only a suggestion
      {"CmbGLL", "  -3", "", STORED(nmeaFreqGll, -3)},
      {"CmbGLL", " +7", "", STORED(nmeaFreqGll, 7)},
      {"CmbGLL", "7 ", "'7 ' is not a valid integer value", nullptr},
      {"CmbGLL", "", "'' is not a valid integer value", nullptr},
      {"CmbGLL", "1.0", "'1.0' is not a valid integer value", nullptr},
      {"CmbSV", "300", "", STORED(svId, 44)},  // low 8 bits
      {"CmbHz", "-0.5", "", STORED(updateHz, -0.5f)},
      {"CmbHz", "10", "", STORED(updateHz, 10.0f)},
      {"CmbHz", "1,5", "'1,5' is not a valid floating point value", nullptr},
      {"CmbHz", "abc", "'abc' is not a valid floating point value", nullptr},
  };
  for (const Case& c : cases) {
    Record st;
    st.settings.svId = 1;
    TFormSuggest dialog(st.settings, st.state);
    dialog.present();
    type(dialog, c.control, QString::fromLatin1(c.text));
    QCOMPARE(pressOk(dialog), QString::fromLatin1(c.message));
    if (c.stored) QVERIFY2(c.stored(st.settings), c.text);
  }
}

void DialogsTest::basicSvIdOutsideTheListOpensEmpty() {
  const struct {
    std::uint8_t svId;
    int index;
  } cases[] = {{1, 0}, {29, 28}, {32, 31}, {0, -1}, {40, -1}};
  for (const auto& c : cases) {
    Record st;
    st.settings.svId = c.svId;
    TFormSuggest dialog(st.settings, st.state);
    dialog.present();
    auto* sv = control<QComboBox>(dialog, "CmbSV");
    QCOMPARE(sv->currentIndex(), c.index);
    const QString shown = c.index < 0 ? QString() : QString::number(c.svId);
    QCOMPARE(sv->currentText(), shown);
    QCOMPARE(pressOk(dialog), c.index < 0 ? QStringLiteral("'' is not a valid integer value") : QString());
    QCOMPARE(dialog.isVisible(), c.index < 0);
  }
}

void DialogsTest::basicCancelKeepsSettingsButDownloadSeesTheBox() {
  Record st;
  st.settings.svId = 1;
  st.settings.enableTest = 0x1;
  TFormSuggest dialog(st.settings, st.state);
  QVERIFY(!dialog.downloadEnabled());  // never opened yet

  dialog.present();
  QVERIFY(dialog.downloadEnabled());
  box(dialog, "ChkDownload")->click();
  type(dialog, "EditFailCode_UpdateHz", QStringLiteral("Rate"));
  type(dialog, "EditDownload_FailCode", QStringLiteral("DL"));
  dialog.BtnCancelClick();
  QVERIFY(!dialog.isVisible());
  const TestSettings untouched = Record().settings;
  QCOMPARE(st.settings.enableTest, 0x1);
  QCOMPARE(st.settings.updateHzFailCode, untouched.updateHzFailCode);
  QVERIFY(!dialog.downloadEnabled());

  // The next opening refills everything but the UpdateHZ fail code, which has nothing to refill from.
  dialog.present();
  QVERIFY(dialog.downloadEnabled());
  QCOMPARE(textOf(dialog, "EditDownload_FailCode"), QString());
  QCOMPARE(textOf(dialog, "EditFailCode_UpdateHz"), QStringLiteral("Rate"));
}

void DialogsTest::engineTextsShowUtf8AndStrayBytesAsLatin1() {
  const auto utf8 = [](const char* text) { return QString::fromUtf8(text); };
  const auto latin1 = [](const char* text) { return QString::fromLatin1(text); };
  const struct {
    std::string bytes;
    QString shown;
  } cases[] = {
      {"Fail(\xC3\x89" "chec)", utf8("Fail(\xC3\x89" "chec)")},
      {"\xE2\x82\xAC \xF0\x9F\x98\x80", utf8("\xE2\x82\xAC \xF0\x9F\x98\x80")},  // 3 and 4 bytes
      {"Fail(\xC9" "chec)", latin1("Fail(\xC9" "chec)")},                          // an 8-bit code page
      {"a\xFF" "b\x80", latin1("a\xFF" "b\x80")},
      {"\xC3\x89\xC3", utf8("\xC3\x89") + latin1("\xC3")},                        // cut short at the end
      {"\xE2\x82" "A", latin1("\xE2\x82" "A")},                                     // cut short inside
      {"\xC0\xAF\xE0\x80\xAF", latin1("\xC0\xAF\xE0\x80\xAF")},                  // overlong forms
      {"\xED\xA0\x80", latin1("\xED\xA0\x80")},                                    // a surrogate
      {"\xF4\x90\x80\x80\xF4\x8F\xBF\xBF", latin1("\xF4\x90\x80\x80") + utf8("\xF4\x8F\xBF\xBF")},
      {std::string("a\0b", 3), QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b")},
  };
  for (const auto& c : cases) QCOMPARE(ui::fromEngine(c.bytes), c.shown);
}

void DialogsTest::okStoresOnlyWhatTheOperatorChanged() {
  // Texts in any bytes and thresholds with more decimals than their fields show.
  const struct {
    const char* control;
    std::function<void(TestSettings&)> set;
    QString shown;
  } fields[] = {
      {"EditDownload_FailCode", [](TestSettings& s) { s.flashDownloadFailCode = "\xC3\x89" "chec"; },
       QString::fromUtf8("\xC3\x89" "chec")},
      {"EditMTKVersion", [](TestSettings& s) { s.versionMtk = "M-core\xB2"; }, QString::fromLatin1("M-core\xB2")},
      {"EditCustomerVersion", [](TestSettings& s) { s.versionCustomer = "\xFF\xFE"; },
       QString::fromLatin1("\xFF\xFE")},
      {"EditFailCode_Acq", [](TestSettings& s) { s.acqTimeFailCode = "Acq\xE2\x82"; },
       QString::fromLatin1("Acq\xE2\x82")},
      {"EditPhaseError", [](TestSettings& s) { s.signalPhaseRatio = 0.855f; }, QStringLiteral("0.86")},
      {"EditClockOffset", [](TestSettings& s) { s.signalTcxoOffset = 40.9256f; }, QStringLiteral("40.926")},
      {"EditClockDrift", [](TestSettings& s) { s.signalTcxoDrift = 0.81844f; }, QStringLiteral("0.8184")},
      {"EditCNR", [](TestSettings& s) { s.signalCnrThreshold = 40.06f; }, QStringLiteral("40.1")},
      {"EditCNRDev", [](TestSettings& s) { s.signalCnrDev = 1.26f; }, QStringLiteral("1.3")},
      {"CmbHz", [](TestSettings& s) { s.updateHz = 1.0f / 3; }, QStringLiteral("0.333333343267441")},
  };
  Record st;
  st.settings.svId = 5;
  for (const auto& f : fields) f.set(st.settings);
  const TestSettings loaded = st.settings;
  TFormSuggest dialog(st.settings, st.state);
  dialog.present();
  for (const auto& f : fields) QCOMPARE(textOf(dialog, f.control), f.shown);
  QCOMPARE(pressOk(dialog), QString());
  QVERIFY(st.settings == loaded);

  // What the operator types goes in as typed (text as UTF-8); the fields left alone stay exact.
  const struct {
    const char* control;
    QString typed;
    std::function<bool(const TestSettings&)> stored;
  } edits[] = {
      {"EditMTKVersion", QString::fromUtf8("M-core \xC3\xBC"), STORED(versionMtk, "M-core \xC3\xBC")},
      {"EditPhaseError", QStringLiteral("0.9"), STORED(signalPhaseRatio, 0.9f)},
      {"CmbHz", QStringLiteral("0.5"), STORED(updateHz, 0.5f)},
  };
  dialog.present();
  TestSettings expected = loaded;
  for (const auto& e : edits) type(dialog, e.control, e.typed);
  QCOMPARE(pressOk(dialog), QString());
  for (const auto& e : edits) QVERIFY2(e.stored(st.settings), e.control);
  expected.versionMtk = st.settings.versionMtk;
  expected.signalPhaseRatio = st.settings.signalPhaseRatio;
  expected.updateHz = st.settings.updateHz;
  QVERIFY(st.settings == expected);

  // The Extra Test dialog keeps its fail code's bytes the same way.
  Record extraSt;
  extraSt.state.offeredItems |= item::BluetoothMac;
  extraSt.settings.btFailCode = "BT\xA7";
  extraSt.settings.btTimeout = 7;
  TFormExtra extra(extraSt.settings, extraSt.state);
  extra.present();
  QCOMPARE(textOf(extra, "EditFailCode_BT"), QString::fromLatin1("BT\xA7"));
  QCOMPARE(pressOk(extra), QString());
  QCOMPARE(extraSt.settings.btFailCode, std::string("BT\xA7"));
  QCOMPARE(extraSt.settings.btTimeout, 7);
}

void DialogsTest::extraMacRangeCheck_data() {
  QTest::addColumn<QStringList>("start");
  QTest::addColumn<QStringList>("end");
  QTest::addColumn<bool>("enabled");
  QTest::addColumn<bool>("accepted");
  const QStringList upperLow = {"00", "00", "00", "FF", "FF", "FF"};
  const QStringList lowerHigh = {"00", "00", "01", "00", "00", "00"};
  QTest::newRow("across the 24-bit halves") << upperLow << lowerHigh << true << true;
  QTest::newRow("start above end") << lowerHigh << upperLow << true << false;
  QTest::newRow("lower half decides") << QStringList{"12", "34", "56", "00", "00", "02"}
                                      << QStringList{"12", "34", "56", "00", "00", "01"} << true << false;
  QTest::newRow("equal addresses") << lowerHigh << lowerHigh << true << true;
  QTest::newRow("item disabled: no check") << lowerHigh << upperLow << false << true;
}

void DialogsTest::extraMacRangeCheck() {
  QFETCH(QStringList, start);
  QFETCH(QStringList, end);
  QFETCH(bool, enabled);
  QFETCH(bool, accepted);
  Record st;
  st.state.offeredItems |= item::BluetoothMac;
  st.settings.enableTest = 0x1;
  TFormExtra dialog(st.settings, st.state);
  dialog.present();
  if (enabled) box(dialog, "ChkBT")->click();
  for (int k = 0; k < 6; ++k) {
    type(dialog, QByteArray("EditMac" + QByteArray::number(k + 1)).constData(), start[k]);
    type(dialog, QByteArray("EditMacE" + QByteArray::number(k + 1)).constData(), end[k]);
  }
  type(dialog, "EditTimeout_BT", QStringLiteral("9"));
  type(dialog, "EditFailCode_BT", QStringLiteral("BT"));

  QCOMPARE(pressOk(dialog), accepted ? QString() : QStringLiteral("Mac(E) must >= Mac(S)"));
  QCOMPARE(dialog.isVisible(), !accepted);
  // Everything is stored before the check, also when it fails.
  QCOMPARE(st.settings.enableTest, enabled ? 0x401 : 0x1);
  QCOMPARE(st.settings.btTimeout, 9);
  QCOMPARE(st.settings.btFailCode, std::string("BT"));
  for (int k = 0; k < 6; ++k) {
    QCOMPARE(st.settings.btMac[k], static_cast<std::uint8_t>(start[k].toUInt(nullptr, 16)));
    QCOMPARE(st.settings.btMacE[k], static_cast<std::uint8_t>(end[k].toUInt(nullptr, 16)));
  }
}

void DialogsTest::extraOctetTexts() {
  Record st;
  st.state.offeredItems |= item::BluetoothMac;
  TFormExtra dialog(st.settings, st.state);
  dialog.present();
  QCOMPARE(textOf(dialog, "EditMac1"), QStringLiteral("00"));
  const QStringList typed = {"ff", "0a", "Bc", "7", "00", "F1"};
  for (int k = 0; k < 6; ++k) type(dialog, QByteArray("EditMac" + QByteArray::number(k + 1)).constData(), typed[k]);
  QCOMPARE(pressOk(dialog), QString());
  QCOMPARE(st.settings.btMac, (MacAddress{0xFF, 0x0A, 0xBC, 0x07, 0x00, 0xF1}));
  dialog.present();
  QCOMPARE(textOf(dialog, "EditMac1"), QStringLiteral("FF"));
  QCOMPARE(textOf(dialog, "EditMac2"), QStringLiteral("0A"));
  QCOMPARE(textOf(dialog, "EditMac4"), QStringLiteral("07"));

  // A field that does not convert stops OK there; the octets before it are stored.
  const struct {
    const char* text;
    const char* message;
  } bad[] = {{"", "'0x' is not a valid integer value"},
             {"g1", "'0xg1' is not a valid integer value"},
             {"-1", "'0x-1' is not a valid integer value"},
             {" 1", "'0x 1' is not a valid integer value"}};
  for (const auto& b : bad) {
    Record fresh;
    TFormExtra extra(fresh.settings, fresh.state);
    extra.present();
    for (int k = 0; k < 6; ++k) type(extra, QByteArray("EditMacE" + QByteArray::number(k + 1)).constData(), "11");
    type(extra, "EditTimeout_BT", QStringLiteral("7"));
    type(extra, "EditMacE3", QString::fromLatin1(b.text));
    QCOMPARE(pressOk(extra), QString::fromLatin1(b.message));
    QVERIFY(extra.isVisible());
    QCOMPARE(fresh.settings.btTimeout, 7);
    QCOMPARE(fresh.settings.btMacE, (MacAddress{0x11, 0x11, 0, 0, 0, 0}));
  }
}

void DialogsTest::extraHiddenBluetoothPageClearsTheBit() {
  Record st;
  st.settings.enableTest = 0x401;  // the settings file enabled the item
  st.settings.btMac = {0, 0, 0, 0, 0, 9};  // start above end: no check runs for a hidden item
  TFormExtra dialog(st.settings, st.state);
  QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
  dialog.present();
  auto* pages = control<QTabWidget>(dialog, "PageControl1");
  QVERIFY(!pages->isTabVisible(0));
  QVERIFY(!box(dialog, "ChkBT")->isChecked());
  QCOMPARE(pressOk(dialog), QString());
  QCOMPARE(st.settings.enableTest, 0x1);
  QVERIFY(!dialog.isVisible());
}

void DialogsTest::dialogShotsWriteThreePictures() {
  Record st;
  st.settings.svId = 3;
  const TestSettings before = st.settings;
  TFormSuggest basic(st.settings, st.state);
  TFormExtra extra(st.settings, st.state);
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  saveDialogShots(basic, extra, dir.path());
  const QImage top(dir.filePath("basic-test-top.png"));
  const QImage bottom(dir.filePath("basic-test-bottom.png"));
  QCOMPARE(top.size(), QSize(468, 177));
  QCOMPARE(bottom.size(), top.size());
  QVERIFY(top != bottom);  // scrolled
  QVERIFY(!QImage(dir.filePath("extra-test.png")).isNull());
  QVERIFY(!basic.isVisible() && !extra.isVisible());
  QVERIFY(st.settings == before);
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
