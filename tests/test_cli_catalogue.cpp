// Parameter catalogues and parameter sets through the built lustbus program: catalogue
// files refused with their faults, names and units against "lustbus simulate
// --catalogue" on a pseudo-terminal, and the backup, diff and restore of a drive.
#include <gtest/gtest.h>

#include "cliprocess.h"

#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

namespace {

const QString SampleCatalogue = QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE);

// A file in a temporary directory, for catalogues and parameter sets.
class Files
{
public:
    QString write(const QString &name, const QByteArray &content)
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray read(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};

// Each fault of a catalogue file, refused before anything runs: exit 2 and a message
// that names the file, the entry and the cause.
TEST(Catalogue, EachFaultIsRefusedWithTheFileTheEntryAndTheCause)
{
    const char *ok = R"({"name": "speed", "number": 12, "type": "INT16"})";
    const struct { const char *entries, *message; } faults[] = {
        {"{", "not JSON: "},
        {R"({"name": "speed", "number": 12, "type": "INT16", "minimum": 0})",
         R"(entry 0 ("speed"): unknown key "minimum" (known: name, number, type)"},
        {R"({"name": "9lives", "number": 12, "type": "INT16"})",
         R"(entry 0: "name" "9lives" is not a name)"},
        {R"({"number": 12, "type": "INT16"})", R"(entry 0: no "name")"},
        {"%1, {\"name\": \"speed\", \"number\": 13, \"type\": \"INT8\"}",
         R"(entry 1 ("speed"): name "speed" appears twice (entries 0 and 1))"},
        {"%1, {\"name\": \"torque\", \"number\": 12, \"type\": \"INT8\"}",
         R"(entry 1 ("torque"): number 12 appears twice (entries 0 and 1))"},
        {R"({"name": "speed", "number": 70000, "type": "INT16"})",
         R"("number" is not a whole number from 0 to 65535)"},
        {R"({"name": "speed", "number": 12, "type": "WORD"})",
         R"(entry 0 ("speed"): "type" "WORD" is not a data type: INT8, USIGN8)"},
        {R"({"name": "speed", "number": 12, "type": "INT16", "access": "w"})",
         R"("access" is not "rw" or "ro")"},
        {R"({"name": "speed", "number": 12, "type": "INT16", "min": 5, "max": 1})",
         R"(entry 0 ("speed"): bad range: "min" 5 lies above "max" 1)"},
        {R"({"name": "speed", "number": 12, "type": "INT16", "max": 40000})",
         R"(bad range: "max" 40000 does not fit INT16)"},
        {R"({"name": "speed", "number": 12, "type": "INT16", "min": 0, "max": 10, "value": 11})",
         R"(entry 0 ("speed"): "value" 11 lies outside the range 0 to 10)"},
        {R"({"name": "gains", "number": 101, "type": "INT16", "elements": 3, "value": [1, 2.5, 3]})",
         R"(element 1 of "value": 2.5 is not a whole number, as INT16 needs)"},
        {R"({"name": "gains", "number": 101, "type": "INT16", "elements": 8, "value": [1, 2]})",
         R"("value" has 2 elements, "elements" says 8)"},
        {R"({"name": "label", "number": 19, "type": "STRING", "elements": 8})",
         R"(a STRING has no "elements")"},
    };
    Files files;
    for (const auto &fault : faults) {
        const QString entries = QString::fromUtf8(fault.entries).replace(QLatin1String("%1"),
                                                                          QLatin1String(ok));
        const QString file = files.write(QStringLiteral("drive.json"),
                                         entries == QLatin1String("{")
                                             ? QByteArray("{")
                                             : ("{\"parameters\": [" + entries + "]}").toUtf8());
        const Result r = lustbus(QStringList{QStringLiteral("simulate"),
                                             QStringLiteral("--catalogue"), file});
        EXPECT_EQ(r.exitCode, 2) << fault.entries << '\n' << describe(r);
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("lustbus simulate: catalogue \"%1\": ").arg(file)))
            << describe(r);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(fault.message))) << describe(r);
    }
    // From the environment the variable is named too.
    const Result r = lustbus(args("simulate"), 20000,
                             {QStringLiteral("LUSTBUS_CATALOGUE=") + files.path("none.json")});
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_TRUE(r.err.contains(QStringLiteral("LUSTBUS_CATALOGUE: catalogue \"%1\": ")
                                   .arg(files.path("none.json"))))
        << describe(r);
}

// The simulator serves the catalogue's start values and refuses writes to "ro".
TEST(Catalogue, TheSimulatorServesItsStartValuesAndRefusesReadOnlyWrites)
{
    SimulatorProcess simulator(QStringList{QStringLiteral("--pty"), QStringLiteral("--catalogue"),
                                           SampleCatalogue});
    ASSERT_FALSE(simulator.link().isEmpty());
    const QStringList link = simulator.link() + args("--timeout 300 --retries 0");
    const struct { const char *arguments; int exitCode; const char *out, *err; } runs[] = {
        {"read INT32Q16:18", 0, "2.50", ""},
        {"write USIGN32:20 1", 1, "", "write USIGN32:20> invalid param no."},
        {"write USIGN16:106:0 1", 1, "", "write USIGN16:106:0> invalid param no."},
        {"write INT16:12 5", 0, "written INT16:12 = 5", ""},
    };
    for (const auto &run : runs) {
        const Result r = lustbus(args(run.arguments) + link);
        EXPECT_EQ(r.exitCode, run.exitCode) << run.arguments << '\n' << describe(r);
        EXPECT_EQ(r.out.trimmed().toStdString(), run.out) << run.arguments;
        EXPECT_TRUE(r.err.contains(QLatin1String(run.err))) << run.arguments << '\n' << describe(r);
    }
}

} // namespace
