// The settings text and PortSettings mapping of the serial link, the trace format of
// the tracing link, and the simulator's fault texts and "70" digit fields.
#include "faultplan.h"
#include "parametertable.h"
#include "portsettings.h"
#include "scriptedlink.h"
#include "servoresponder.h"
#include "serialsettings.h"
#include "tracinglink.h"

#include <QtCore/QTime>

#include <gtest/gtest.h>

#include <tuple>

namespace {

// Each text is refused with an error that names the bad part.
template <typename Parse>
void expectRefused(Parse parse, std::initializer_list<std::pair<const char *, const char *>> cases)
{
    for (const auto &c : cases) {
        QString error;
        EXPECT_FALSE(parse(c.first, &error)) << c.first;
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.second)))
            << c.first << ": " << error.toStdString();
    }
}

} // namespace

TEST(SettingsText, ValidTextsGiveTheirLine)
{
    const struct { const char *text; SerialInterface interfaceType; int baud;
                   QSerialPort::Parity parity; QSerialPort::DataBits dataBits;
                   QSerialPort::StopBits stopBits; int bitsPerCharacter; } cases[] = {
        {"RS485,57600,EVEN,7,1", SerialInterface::RS485, 57600, QSerialPort::EvenParity,
         QSerialPort::Data7, QSerialPort::OneStop, 10},
        {"rs232,9600,none,8,2", SerialInterface::RS232, 9600, QSerialPort::NoParity,
         QSerialPort::Data8, QSerialPort::TwoStop, 11},
        {" RS422 , 115200 , Odd , 5 , 1.5 ", SerialInterface::RS422, 115200,
         QSerialPort::OddParity, QSerialPort::Data5, QSerialPort::OneAndHalfStop, 9},
        {"RS485,1,MARK,6,1", SerialInterface::RS485, 1, QSerialPort::MarkParity,
         QSerialPort::Data6, QSerialPort::OneStop, 9},
        {"RS485,4000000,SPACE,8,1", SerialInterface::RS485, 4000000, QSerialPort::SpaceParity,
         QSerialPort::Data8, QSerialPort::OneStop, 11},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        SerialSettings s, again;
        QString error;
        ASSERT_TRUE(SerialSettings::parse(QString::fromLatin1(c.text), &s, &error))
            << error.toStdString();
        EXPECT_EQ(std::make_tuple(s.interfaceType, s.baudRate, s.parity, s.dataBits, s.stopBits,
                                  s.bitsPerCharacter()),
                  std::make_tuple(c.interfaceType, c.baud, c.parity, c.dataBits, c.stopBits,
                                  c.bitsPerCharacter));
        ASSERT_TRUE(SerialSettings::parse(s.toText(), &again, &error));
        EXPECT_EQ(again, s);
    }
}

TEST(SettingsText, MalformedTextsNameTheBadField)
{
    expectRefused(
        [](const char *text, QString *error) {
            SerialSettings s;
            s.baudRate = 1234;
            const bool ok = SerialSettings::parse(QString::fromLatin1(text), &s, error);
            EXPECT_EQ(s.baudRate, 1234) << text; // unchanged
            return ok;
        },
        {
            {"RS485,57600,EVEN,7", "expected 5 fields"},
            {"RS485,57600,EVEN,7,1,1", "expected 5 fields"},
            {"RS486,57600,EVEN,7,1", "interface \"RS486\""},
            {"RS485,fast,EVEN,7,1", "baud rate \"fast\""},
            {"RS485,0,EVEN,7,1", "baud rate \"0\""},
            {"RS485,4000001,EVEN,7,1", "baud rate \"4000001\""},
            {"RS485,57600,EVN,7,1", "parity \"EVN\""},
            {"RS485,57600,EVEN,9,1", "data bits \"9\""},
            {"RS485,57600,EVEN,4,1", "data bits \"4\""},
            {"RS485,57600,EVEN,+7,1", "data bits \"+7\""},
            {"RS485,57600,EVEN,7,3", "stop bits \"3\""},
            {"RS485,57600,EVEN,7,", "stop bits \"\""},
        });
}

TEST(SettingsText, PortSettingsCodesMapOntoTheLine)
{
    // named: a part of the error; empty: the codes are good.
    const struct { qint32 databits, stopbits, parity; QSerialPort::Parity expectedParity;
                   QSerialPort::StopBits expectedStop; const char *named; } cases[] = {
        {8, 0, 0, QSerialPort::NoParity, QSerialPort::OneStop, ""},
        {7, 2, 2, QSerialPort::EvenParity, QSerialPort::TwoStop, ""},
        {7, 1, 1, QSerialPort::OddParity, QSerialPort::OneAndHalfStop, ""},
        {8, 0, 4, QSerialPort::SpaceParity, QSerialPort::OneStop, ""},
        {9, 0, 0, QSerialPort::NoParity, QSerialPort::OneStop, "data bits 9"},
        {8, 3, 0, QSerialPort::NoParity, QSerialPort::OneStop, "stop bits code 3"},
        {8, 0, 5, QSerialPort::NoParity, QSerialPort::OneStop, "parity code 5"},
        {8, 0, -1, QSerialPort::NoParity, QSerialPort::OneStop, "parity code -1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.databits << c.stopbits << c.parity);
        const PortSettings port(64, QStringLiteral("/dev/ttyS1"), 19200, c.databits, c.stopbits,
                                c.parity);
        SerialSettings s;
        QString error;
        const bool ok = !*c.named;
        ASSERT_EQ(SerialSettings::fromPortSettings(port, &s, &error), ok);
        if (ok) {
            EXPECT_EQ(s.baudRate, 19200);
            EXPECT_EQ(int(s.dataBits), c.databits);
            EXPECT_EQ(s.parity, c.expectedParity);
            EXPECT_EQ(s.stopBits, c.expectedStop);
        } else {
            EXPECT_TRUE(error.contains(QString::fromLatin1(c.named))) << error.toStdString();
        }
    }
}

// Control characters by name, other bytes outside printable ASCII, and '<', as hex.
TEST(TraceFormat, ASinkGetsEveryLineOfAnExchangeInOrder)
{
    ScriptedLink inner;
    inner.queueChunk(QByteArray("A\x02" "20012=FB2E\x03" "r\x06\x15\x00\x1f\x7f\x80\xff<", 22));
    QStringList lines;
    TracingLink link(inner, [&lines](const QString &line) { lines << line; });
    char buffer[32];
    link.control(LinkControlDiscardInput, QVariant());
    EXPECT_EQ(link.send("\x04" "A20012\x05", 8), 8);
    EXPECT_GT(link.receive(buffer, sizeof buffer), 0);
    EXPECT_EQ(link.receive(buffer, sizeof buffer), 0);
    ASSERT_EQ(lines.size(), 4);
    // Each line starts with the time of day, hh:mm:ss.zzz.
    for (QString &line : lines)
        line = line.mid(13);
    EXPECT_EQ(lines.join(QLatin1Char('|')).toStdString(),
              "- discard input|> <EOT>A20012<ENQ>"
              "|< A<STX>20012=FB2E<ETX>r<ACK><NAK><NUL><US><DEL><x80><xFF><x3C>"
              "|< nothing within the time-out");
    EXPECT_EQ(TracingLink::traceLine(QTime(14, 3, 7, 512), '>', "\x04").toStdString(),
              "14:03:07.512 > <EOT>");
}

TEST(FaultText, EntriesParseAndRoundTripBadOnesAreNamed)
{
    using LustBusSim::FaultKind;
    LustBusSim::FaultPlan plan, again;
    QString error;
    ASSERT_TRUE(LustBusSim::FaultPlan::parse(
        QStringLiteral("noreply:0.1, nak:3,delay:2@250,split:1.0@5,seed:42"), &plan, &error))
        << error.toStdString();
    const QList<LustBusSim::FaultRule> rules = {{FaultKind::NoReply, 0, 0.1, 0},
                                                {FaultKind::Nak, 3, 0, 0},
                                                {FaultKind::Delay, 2, 0, 250},
                                                {FaultKind::Split, 0, 1.0, 5}};
    EXPECT_EQ(plan.rules, rules);
    EXPECT_EQ(plan.seed, 42u);
    ASSERT_TRUE(LustBusSim::FaultPlan::parse(plan.toText(), &again, &error));
    EXPECT_EQ(again.rules, rules);
    EXPECT_EQ(again.seed, 42u);

    expectRefused(
        [](const char *text, QString *error) {
            LustBusSim::FaultPlan plan;
            return LustBusSim::FaultPlan::parse(QString::fromLatin1(text), &plan, error);
        },
        {
            {"noreply", "expected KIND:AMOUNT"},
            {"lost:1", "unknown kind \"lost\""},
            {"nak:0", "amount \"0\""},
            {"nak:1.5", "rate \"1.5\""},
            {"nak:x", "amount \"x\""},
            {"nak:1@10", "only delay and split"},
            {"delay:1@-5", "\"-5\" is not a number of milliseconds"},
            {"seed:-1", "seed \"-1\""},
        });
}

// Digits that read two ways (the codec's RequestRecognition) go to an array of the servo.
TEST(ArrayDigits, LongFieldsSplitTowardAnArrayOfTheServo)
{
    const LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
    const char *const cases[][2] = {
        {"110000000100", "1100/0/100"}, // 1100 is an array, 11000 no parameter
        {"100000000125", "10000/1/25"}, // 1000 is no array either: the longer parameter
    };
    for (const auto &c : cases) {
        const QByteArray request = "\x04" "A70" + QByteArray(c[0]) + "\x05";
        const LustBus::RequestTarget t = LustBusSim::arrayTarget(
            LustBus::scanRequest(request.constData(), int(request.size())).request, table);
        EXPECT_EQ(QStringLiteral("%1/%2/%3").arg(t.parameter).arg(t.firstElement)
                      .arg(t.elementCount).toStdString(), c[1]) << c[0];
    }
}

// The entry checks are the catalogue's (Catalogue.EachFaultIsRefusedWithTheFileTheEntryAndTheCause).
TEST(ParameterTableJson, DefaultTableRoundTripsAndBadEntriesAreNamed)
{
    const LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
    LustBusSim::ParameterTable again;
    QString error;
    ASSERT_TRUE(LustBusSim::ParameterTable::fromJson(table.toJson(), &again, &error))
        << error.toStdString();
    EXPECT_EQ(again.parameters(), table.parameters());

    expectRefused(
        [](const char *json, QString *error) {
            LustBusSim::ParameterTable t;
            return LustBusSim::ParameterTable::fromJson(json, &t, error);
        },
        {
            {"{", "parameter table:"},
            {"{\"parameters\": 1}", "no \"parameters\" array"},
        });
}

// The sample catalogue is the default table with names and units; only torque_offset
// starts positive, as a simple INT32Q16 cannot be read back below zero.
TEST(ParameterTableJson, TheSampleCatalogueIsTheDefaultTable)
{
    LustBus::Catalogue sample;
    QString error;
    ASSERT_TRUE(LustBus::Catalogue::load(QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE), &sample, &error))
        << error.toStdString();
    LustBusSim::ParameterTable expected = LustBusSim::ParameterTable::defaultTable();
    expected.insert(LustBusSim::Parameter::simple(18, LustBusSim::DataType::Int32Q16, 163840));
    EXPECT_EQ(LustBusSim::ParameterTable::fromCatalogue(sample).parameters(),
              expected.parameters());
    EXPECT_EQ(sample.find(QStringLiteral("speed_setpoint"))->unit, QStringLiteral("rpm"));
}
