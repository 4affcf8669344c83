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

TEST(SettingsText, ValidTextsGiveTheirLine)
{
    const struct
    {
        const char *text;
        SerialInterface interfaceType;
        int baud;
        QSerialPort::Parity parity;
        QSerialPort::DataBits dataBits;
        QSerialPort::StopBits stopBits;
        int bitsPerCharacter;
    } cases[] = {
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
        SerialSettings s;
        QString error;
        ASSERT_TRUE(SerialSettings::parse(QString::fromLatin1(c.text), &s, &error))
            << error.toStdString();
        EXPECT_EQ(s.interfaceType, c.interfaceType);
        EXPECT_EQ(s.baudRate, c.baud);
        EXPECT_EQ(s.parity, c.parity);
        EXPECT_EQ(s.dataBits, c.dataBits);
        EXPECT_EQ(s.stopBits, c.stopBits);
        EXPECT_EQ(s.bitsPerCharacter(), c.bitsPerCharacter);
        SerialSettings again;
        ASSERT_TRUE(SerialSettings::parse(s.toText(), &again, &error));
        EXPECT_EQ(again, s);
    }
}

TEST(SettingsText, MalformedTextsNameTheBadField)
{
    const struct
    {
        const char *text;
        const char *named;
    } cases[] = {
        {"", "expected 5 fields"},
        {"RS485,57600,EVEN,7", "expected 5 fields"},
        {"RS485,57600,EVEN,7,1,1", "expected 5 fields"},
        {"RS486,57600,EVEN,7,1", "interface \"RS486\""},
        {"RS485,fast,EVEN,7,1", "baud rate \"fast\""},
        {"RS485,0,EVEN,7,1", "baud rate \"0\""},
        {"RS485,-9600,EVEN,7,1", "baud rate \"-9600\""},
        {"RS485,4000001,EVEN,7,1", "baud rate \"4000001\""},
        {"RS485,57600,EVN,7,1", "parity \"EVN\""},
        {"RS485,57600,EVEN,9,1", "data bits \"9\""},
        {"RS485,57600,EVEN,4,1", "data bits \"4\""},
        {"RS485,57600,EVEN,+7,1", "data bits \"+7\""},
        {"RS485,57600,EVEN,7,3", "stop bits \"3\""},
        {"RS485,57600,EVEN,7,", "stop bits \"\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        SerialSettings s;
        s.baudRate = 1234;
        QString error;
        EXPECT_FALSE(SerialSettings::parse(QString::fromLatin1(c.text), &s, &error));
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.named))) << error.toStdString();
        EXPECT_EQ(s.baudRate, 1234); // unchanged
    }
}

TEST(SettingsText, PortSettingsCodesMapOntoTheLine)
{
    const struct
    {
        qint32 databits, stopbits, parity;
        bool ok;
        QSerialPort::Parity expectedParity;
        QSerialPort::StopBits expectedStop;
        const char *named;
    } cases[] = {
        {8, 0, 0, true, QSerialPort::NoParity, QSerialPort::OneStop, ""},
        {7, 2, 2, true, QSerialPort::EvenParity, QSerialPort::TwoStop, ""},
        {7, 1, 1, true, QSerialPort::OddParity, QSerialPort::OneAndHalfStop, ""},
        {8, 0, 4, true, QSerialPort::SpaceParity, QSerialPort::OneStop, ""},
        {9, 0, 0, false, QSerialPort::NoParity, QSerialPort::OneStop, "data bits 9"},
        {8, 3, 0, false, QSerialPort::NoParity, QSerialPort::OneStop, "stop bits code 3"},
        {8, 0, 5, false, QSerialPort::NoParity, QSerialPort::OneStop, "parity code 5"},
        {8, 0, -1, false, QSerialPort::NoParity, QSerialPort::OneStop, "parity code -1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.databits << c.stopbits << c.parity);
        const PortSettings port(64, QStringLiteral("/dev/ttyS1"), 19200, c.databits, c.stopbits,
                                c.parity);
        SerialSettings s;
        QString error;
        ASSERT_EQ(SerialSettings::fromPortSettings(port, &s, &error), c.ok);
        if (c.ok) {
            EXPECT_EQ(s.baudRate, 19200);
            EXPECT_EQ(int(s.dataBits), c.databits);
            EXPECT_EQ(s.parity, c.expectedParity);
            EXPECT_EQ(s.stopBits, c.expectedStop);
        } else {
            EXPECT_TRUE(error.contains(QString::fromLatin1(c.named))) << error.toStdString();
        }
    }
}

TEST(TraceFormat, ControlCharactersByNameOtherBytesAsHex)
{
    const struct
    {
        QByteArray bytes;
        const char *text;
    } cases[] = {
        {QByteArray("\x04" "A20100\x05"), "<EOT>A20100<ENQ>"},
        {QByteArray("A\x02" "20012=FB2E\x03" "r"), "A<STX>20012=FB2E<ETX>r"},
        {QByteArray("A\x15", 2), "A<NAK>"},
        {QByteArray("\x00\x06\x1f", 3), "<NUL><ACK><US>"},
        {QByteArray("\x7f\x80\xff<", 4), "<DEL><x80><xFF><x3C>"},
        {QByteArray(), ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TracingLink::traceText(c.bytes).toStdString(), c.text);
    EXPECT_EQ(TracingLink::traceLine(QTime(14, 3, 7, 512), '>', "\x04").toStdString(),
              "14:03:07.512 > <EOT>");
}

TEST(TraceFormat, ASinkGetsEveryLineOfAnExchangeInOrder)
{
    ScriptedLink inner;
    inner.queueChunk(QByteArray("A\x02" "20012=FB2E\x03" "r"));
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
              "- discard input|> <EOT>A20012<ENQ>|< A<STX>20012=FB2E<ETX>r"
              "|< nothing within the time-out");
}

TEST(FaultText, EntriesParseAndRoundTrip)
{
    LustBusSim::FaultPlan plan;
    QString error;
    ASSERT_TRUE(LustBusSim::FaultPlan::parse(
        QStringLiteral("noreply:0.1, nak:3,delay:2@250,split:1.0@5,seed:42"), &plan, &error))
        << error.toStdString();
    ASSERT_EQ(plan.rules.size(), 4);
    EXPECT_EQ(plan.seed, 42u);
    EXPECT_EQ(plan.rules[0].kind, LustBusSim::FaultKind::NoReply);
    EXPECT_DOUBLE_EQ(plan.rules[0].rate, 0.1);
    EXPECT_EQ(plan.rules[1].count, 3);
    EXPECT_EQ(plan.rules[2].kind, LustBusSim::FaultKind::Delay);
    EXPECT_EQ(plan.rules[2].ms, 250);
    EXPECT_EQ(plan.rules[3].ms, 5);
    LustBusSim::FaultPlan again;
    ASSERT_TRUE(LustBusSim::FaultPlan::parse(plan.toText(), &again, &error));
    EXPECT_EQ(again.rules, plan.rules);
    EXPECT_EQ(again.seed, plan.seed);
}

TEST(FaultText, BadEntriesAreNamed)
{
    const struct
    {
        const char *text;
        const char *named;
    } cases[] = {
        {"noreply", "expected KIND:AMOUNT"},
        {"lost:1", "unknown kind \"lost\""},
        {"nak:0", "amount \"0\""},
        {"nak:1.5", "rate \"1.5\""},
        {"nak:x", "amount \"x\""},
        {"nak:1@10", "only delay and split"},
        {"delay:1@-5", "\"-5\" is not a number of milliseconds"},
        {"seed:-1", "seed \"-1\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        LustBusSim::FaultPlan plan;
        QString error;
        EXPECT_FALSE(LustBusSim::FaultPlan::parse(QString::fromLatin1(c.text), &plan, &error));
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.named))) << error.toStdString();
    }
}

TEST(ArrayDigits, LongFieldsSplitTowardAnArrayOfTheServo)
{
    const LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
    const struct
    {
        const char *digits;
        bool ok;
        int parameter, first, count;
    } cases[] = {
        {"1010000304", true, 101, 3, 4},
        {"110000000100", true, 1100, 0, 100},   // 1100 is an array: count of 3 digits
        {"11000000010", true, 1100, 0, 10},     // 110 00000 010 would pad the count
        {"101000030", false, 0, 0, 0},          // too short
        {"10100003a4", false, 0, 0, 0},
        {"1010000399", true, 101, 3, 99},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.digits);
        LustBusSim::ArrayAddress a;
        ASSERT_EQ(LustBusSim::splitArrayDigits(c.digits, table, &a), c.ok);
        if (c.ok) {
            EXPECT_EQ(a.parameter, c.parameter);
            EXPECT_EQ(a.first, c.first);
            EXPECT_EQ(a.count, c.count);
        }
    }
}

TEST(ParameterTableJson, DefaultTableRoundTripsAndBadEntriesAreNamed)
{
    const LustBusSim::ParameterTable table = LustBusSim::ParameterTable::defaultTable();
    LustBusSim::ParameterTable again;
    QString error;
    ASSERT_TRUE(LustBusSim::ParameterTable::fromJson(table.toJson(), &again, &error))
        << error.toStdString();
    EXPECT_EQ(again.parameters(), table.parameters());

    const struct
    {
        const char *json;
        const char *named;
    } cases[] = {
        {"{", "parameter table:"},
        {"{\"parameters\": 1}", "no \"parameters\" array"},
        {"{\"parameters\": [{\"number\": 1, \"type\": \"WORD\", \"value\": 1}]}", "\"WORD\""},
        {"{\"parameters\": [{\"number\": 70000, \"type\": \"INT8\", \"value\": 1}]}", "number"},
        {"{\"parameters\": [{\"number\": 1, \"type\": \"INT8\", \"value\": 128}]}",
         "does not fit INT8"},
        {"{\"parameters\": [{\"number\": 1, \"type\": \"INT16\", \"value\": [1, 2.5]}]}",
         "element 1"},
        {"{\"parameters\": [{\"number\": 1, \"type\": \"INT8\", \"value\": 1},"
         "{\"number\": 1, \"type\": \"INT8\", \"value\": 2}]}", "appears twice"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.json);
        LustBusSim::ParameterTable t;
        EXPECT_FALSE(LustBusSim::ParameterTable::fromJson(c.json, &t, &error));
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.named))) << error.toStdString();
    }
}
