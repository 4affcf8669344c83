// Parameter catalogues and parameter sets through the built lustbus program: catalogue
// files refused with their faults, names and units against "lustbus simulate
// --catalogue" on a pseudo-terminal, and the backup, diff and restore of a drive.
#include <gtest/gtest.h>

#include "cliprocess.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QTemporaryDir>

namespace {

const QString SampleCatalogue = QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE);

// path, with content written to it: a catalogue or a parameter set.
QString written(const QString &path, const QByteArray &content)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return path;
}

// Each fault of a catalogue file ('c', for simulate) or a parameter set ('s', for diff),
// refused before anything runs: exit 2 and a message that names the file, the entry
// and the cause. The entries go into a file's "parameters"; "{" and "[]" are files.
TEST(Catalogue, EachFaultIsRefusedWithTheFileTheEntryAndTheCause)
{
    const char *ok = R"({"name": "speed", "number": 12, "type": "INT16"})";
    const char *setHead = R"({"format": "lustbus parameter set", "version": 1, "drive": "d",
        "catalogue": "c.json", "catalogueSha256": "00", "station": 1, "link": "l",
        "time": "t", "parameters": [)";
    const struct { char file; const char *entries, *message; } faults[] = {
        {'c', "{", "not JSON: "},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "minimum": 0})",
         R"(entry 0 ("speed"): unknown key "minimum" (known: name, number, type)"},
        {'c', R"({"name": "9lives", "number": 12, "type": "INT16"})",
         R"(entry 0: "name" "9lives" is not a name)"},
        {'c', R"({"number": 12, "type": "INT16"})", R"(entry 0: no "name")"},
        {'c', "%1, {\"name\": \"speed\", \"number\": 13, \"type\": \"INT8\"}",
         R"(entry 1 ("speed"): name "speed" appears twice (entries 0 and 1))"},
        {'c', "%1, {\"name\": \"torque\", \"number\": 12, \"type\": \"INT8\"}",
         R"(entry 1 ("torque"): number 12 appears twice (entries 0 and 1))"},
        {'c', R"({"name": "speed", "number": 70000, "type": "INT16"})",
         R"("number" is not a whole number from 0 to 65535)"},
        {'c', R"({"name": "speed", "number": 12, "type": "WORD"})",
         R"(entry 0 ("speed"): "type" "WORD" is not a data type: INT8, USIGN8)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "access": "w"})",
         R"("access" is not "rw" or "ro")"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "min": 5, "max": 1})",
         R"(entry 0 ("speed"): bad range: "min" 5 lies above "max" 1)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "max": 40000})",
         R"(bad range: "max" 40000 does not fit INT16)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "min": 0, "max": 10, "value": 11})",
         R"(entry 0 ("speed"): "value" 11 lies outside the range 0 to 10)"},
        {'c', R"({"name": "gains", "number": 101, "type": "INT16", "elements": 3, "value": [1, 2.5, 3]})",
         R"(element 1 of "value": 2.5 is not a whole number, as INT16 needs)"},
        {'c', R"({"name": "gains", "number": 101, "type": "INT16", "elements": 8, "value": [1, 2]})",
         R"("value" has 2 elements, "elements" says 8)"},
        {'c', R"({"name": "label", "number": 19, "type": "STRING", "elements": 8})",
         R"(a STRING has no "elements")"},
        {'s', "[]", "not a parameter set (no \"format\": \"lustbus parameter set\")"},
        {'s', R"({"name": "x", "number": 1, "type": "INT8", "value": 128})",
         R"(entry 0 ("x"): "value": bad INT8 value 128: expected an integer from -128 to 127)"},
        {'s', R"({"name": "x", "number": 1, "type": "INT8"})",
         R"(entry 0 ("x"): needs either a "value" or an "error" text)"},
        {'s', R"({"name": "g", "number": 1, "type": "INT16", "elements": 3, "value": [1, 2]})",
         R"("value" has 2 elements, "elements" says 3)"},
        {'s', R"({"name": "x", "number": 1, "type": "INT8", "value": 1, "colour": 2})",
         R"(unknown key "colour")"},
    };
    QTemporaryDir directory;
    for (const auto &fault : faults) {
        const bool set = fault.file == 's';
        const QByteArray entries = QByteArray(fault.entries).replace("%1", ok);
        const QString file = written(directory.filePath(QStringLiteral("drive.json")),
                                     entries == "{" || entries == "[]"
                                         ? entries
                                         : (set ? setHead : "{\"parameters\": [") + entries + "]}");
        const Result r = expectRun(set ? QStringList{QStringLiteral("diff"), file, file}
                                       : QStringList{QStringLiteral("simulate"),
                                                     QStringLiteral("--catalogue"), file},
                                   2, QString::fromUtf8(fault.message));
        EXPECT_TRUE(r.err.startsWith(
            (set ? QStringLiteral("lustbus diff: parameter set \"%1\": ")
                 : QStringLiteral("lustbus simulate: catalogue \"%1\": ")).arg(file)))
            << describe(r);
    }
    // From the environment the variable is named too: Cli.ALinkIsChosenNeverAssumed.
}

// The sample catalogue on "lustbus simulate --catalogue": start values, NAK for "ro",
// names with units in every form, and writes checked before anything is sent (each
// refused one is read back unchanged).
TEST(Catalogue, NamesUnitsAndChecksAgainstTheSimulator)
{
    SimulatorProcess simulator(args("--pty --catalogue " LUSTBUS_SAMPLE_CATALOGUE));
    ASSERT_FALSE(simulator.link().isEmpty());
    const QStringList link = simulator.link() + args("--timeout 300 --retries 0");
    // The value forms themselves are CliOnSimulator's and watch's.
    const Expected runs[] = {
        {"write USIGN16:106:0 1", 1, "", "write USIGN16:106:0> invalid param no."},
        {"read speed_setpoint", 0, "-1234 rpm", ""},
        {"read speed_setpoint --json", 0,
         R"({"address":"INT16:12","count":1,"hex":"2EFB","kind":2,"name":"speed_setpoint",
             "unit":"rpm","value":-1234})", ""},
        {"read gains", 0, "0, -1, 2, -3, 4, -5, 6, -7", ""},
        {"read gains[3]", 0, "-3", ""},
        {"read ramp_times[1..2]", 0, "2.00, 3.00 s", ""},
        {"read position_table[6] --count 2", 0, "600000, 700000 inc", ""},
        {"read cam_profile[298..299]", 0, "42, 43", ""},
        {"write speed_setpoint 1500", 0, "written speed_setpoint = 1500 rpm", ""},
        {"write gains[2..4] 7,8,9", 0, "written gains[2..4] = 7, 8, 9", ""},
        {"write ramp_time 0.07", 0, "written ramp_time = 0.05 s (0.07 is not a multiple of 0.05)",
         ""},
        {"write control_word.0 0", 0, "written control_word.0 = 0", ""},
        {"write drive_name AXIS~2", 0, "written drive_name = AXIS 2", ""},
        {"read gains", 0, "0, -1, 7, 8, 9, -5, 6, -7", ""},
        {"read control_word", 0, "43980", ""},
        {"read drive_name", 0, "AXIS 2", ""},
        // Refused before anything is sent.
        {"write speed_setpoint 4000", 2, "",
         "'speed_setpoint': 4000 rpm lies outside its range -3000 to 3000 rpm (catalogue "
         "sample.json); nothing was sent"},
        {"write ramp_times[1] 1,120", 2, "", "'ramp_times[1]': element 2 = 120.00 s lies outside"},
        {"write firmware_version 1", 2, "",
         "'firmware_version' is read-only (access \"ro\" in catalogue sample.json)"},
        {"write gains 1,2,3", 2, "", "'gains' names 8 elements, and the value has 3"},
        {"write gains[6] 1,2,3", 2, "", "3 values from element 6 reach past the last element"},
        {"write ramp_time.2 1", 2, "", "which a bit write cannot check"},
        {"read speed_setpoint", 0, "1500 rpm", ""},
        {"read ramp_times", 0, "1.00, 2.00, 3.00, 4.00 s", ""},
        // Names the catalogue does not have, forms that do not fit the parameter.
        {"read speedx", 2, "", "catalogue sample.json has no parameter 'speedx'"},
        {"read gains[7..9]", 2, "", "'gains[7..9]': gains has elements 0 to 7"},
        {"read gains[5..2]", 2, "", "the range 5..2 runs backwards"},
        {"read gains[1..2] --count 2", 2, "", "--count and the range [1..2] both give"},
        {"read speed_setpoint[1]", 2, "", "speed_setpoint is a simple parameter"},
        {"read cam_profile", 2, "", "300 elements of USIGN8 are more than one request carries "
                                     "(255); name a range such as cam_profile[0..254]"},
        {"read gains{1}", 2, "", "expected a catalogue name NAME, NAME[I]"},
    };
    expectRuns(runs, args("--catalogue " LUSTBUS_SAMPLE_CATALOGUE) + link);

    // The variable stands for the option; a name without any catalogue says what it needs.
    const QStringList watch = args("watch speed_setpoint gains[0..1] --samples 1") + link;
    const Result fromVariable = expectRun(watch, 0, {}, ",speed_setpoint,1500,",
                                          {QStringLiteral("LUSTBUS_CATALOGUE=") + SampleCatalogue});
    EXPECT_TRUE(fromVariable.out.contains(QLatin1String(",gains[0..1],\"0, -1\",")))
        << describe(fromVariable);
    expectRun(watch, 2, "a name needs the drive's catalogue: give --catalogue FILE or set "
                        "LUSTBUS_CATALOGUE");
}

// list shows the catalogue without a link, and with --values every live value.
TEST(Catalogue, ListShowsTheCatalogueAndItsLiveValues)
{
    const QStringList catalogue{QStringLiteral("--catalogue"), SampleCatalogue};
    const Result table = lustbus(QStringList{QStringLiteral("list")} + catalogue);
    ASSERT_EQ(table.exitCode, 0) << describe(table);
    const QStringList lines = table.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2 + 21) << describe(table);
    EXPECT_EQ(lines[0], QStringLiteral("CDE sample (sample.json, version 1): 21 parameters"));
    EXPECT_EQ(lines[1].simplified(),
              QStringLiteral("name number type elements unit access range"));
    EXPECT_EQ(lines[4].simplified(), QStringLiteral("speed_setpoint 12 INT16 - rpm rw -3000 to 3000"));
    EXPECT_EQ(lines[15].simplified(), QStringLiteral("gains 101 INT16 8 - rw -"));

    const Result values = lustbus(args("list --values --json --sim --stats") + catalogue);
    ASSERT_EQ(values.exitCode, 0) << describe(values);
    const QJsonObject object = json(values.out);
    const QJsonArray parameters = object.value(QLatin1String("parameters")).toArray();
    ASSERT_EQ(parameters.size(), 21);
    EXPECT_EQ(compact(parameters[2].toObject()),
              compact(R"({"name":"speed_setpoint","number":12,"type":"INT16","unit":"rpm",
                  "access":"rw","min":-3000,"max":3000,"value":-1234,
                  "description":"Speed the drive runs at in speed mode"})"));
    EXPECT_EQ(parameters[20].toObject().value(QLatin1String("value")).toArray().size(), 300);
    // Each parameter once, the 300 bytes in two requests: 22 in all.
    EXPECT_EQ(object.value(QLatin1String("stats")).toObject().value(QLatin1String("stations"))
                  .toArray()[0].toObject().value(QLatin1String("requests")).toInt(), 22);

    expectRun(args("list"), 2,
              "no catalogue given: name the drive's parameter catalogue with --catalogue FILE");
}

// The round trip of a drive: backup, a change, diff --live shows it, restore puts it
// back, diff --live is equal. A read-only parameter that differs is reported and not
// written; a set from another catalogue is refused unless --force.
TEST(Catalogue, BackupDiffRestoreRoundTrip)
{
    SimulatorProcess simulator(args("--pty --catalogue " LUSTBUS_SAMPLE_CATALOGUE));
    ASSERT_FALSE(simulator.link().isEmpty());
    QTemporaryDir directory;
    const QString set = directory.filePath(QStringLiteral("axis1.json")),
                  now = directory.filePath(QStringLiteral("now.json"));
    const QStringList link = simulator.link()
                             + args("--timeout 300 --retries 0 --catalogue " LUSTBUS_SAMPLE_CATALOGUE);
    // arguments with %1 for the set.
    const auto run = [&](const char *arguments, int exitCode, const QString &out = {},
                         const QString &err = {}) {
        const QString filled = QString::fromUtf8(arguments).replace(QLatin1String("%1"), set);
        return expectRun(args(filled.toUtf8()) + link, exitCode, err, out);
    };

    ASSERT_EQ(run("backup -o %1", 0, {}, QStringLiteral("21 parameters of sample.json from station 1 "
                                                       "saved to %1").arg(set)).exitCode, 0);
    QFile setFile(set);
    ASSERT_TRUE(setFile.open(QIODevice::ReadOnly));
    QJsonObject saved = json(QString::fromUtf8(setFile.readAll()));
    EXPECT_EQ(saved.value(QLatin1String("catalogue")).toString(), QStringLiteral("sample.json"));
    EXPECT_EQ(saved.value(QLatin1String("catalogueSha256")).toString().size(), 64);
    EXPECT_TRUE(saved.value(QLatin1String("complete")).toBool());
    EXPECT_TRUE(saved.value(QLatin1String("time")).toString().endsWith(QLatin1Char('Z')));
    EXPECT_EQ(compact(saved.value(QLatin1String("parameters")).toArray()[13].toObject()),
              compact(R"({"name":"gains","number":101,"type":"INT16","elements":8,
                  "value":[0,-1,2,-3,4,-5,6,-7]})"));

    for (const char *change : {"write speed_setpoint 1500", "write gains[2..3] 9,9",
                               "write drive_name NEW"})
        run(change, 0);
    EXPECT_EQ(run("diff %1 --live", 1).out.toStdString(), "speed_setpoint: -1234 rpm -> 1500 rpm\n"
                                                          "drive_name: \"LUST CDE SIM\" -> \"NEW\"\n"
                                                          "gains[2]: 2 -> 9\n"
                                                          "gains[3]: -3 -> 9\n");
    EXPECT_EQ(compact(json(run("diff %1 --live --json", 1).out)
                          .value(QLatin1String("differences")).toArray()[0].toObject()),
              compact(R"({"name":"speed_setpoint","unit":"rpm","a":-1234,"b":1500})"));
    // Two sets: the same lines.
    run(("backup -o " + now).toUtf8(), 0);
    EXPECT_TRUE(run(("diff %1 " + now).toUtf8(), 1)
                    .out.startsWith(QLatin1String("speed_setpoint: -1234 rpm -> 1500 rpm\n")));

    run("restore %1 --dry-run", 0, "speed_setpoint: would write (1500 rpm -> -1234 rpm)\n");
    run("diff %1 --live", 1);
    const Result restored =
        run("restore %1", 0, {}, "3 done, 18 unchanged, 0 refused, 0 unknown, 0 read-only and different");
    for (const char *line : {"speed_setpoint: done (1500 rpm -> -1234 rpm)\n",
                             "gains: done (0, -1, 9, 9, 4, -5, 6, -7 -> 0, -1, 2, -3, 4, -5, 6, -7)\n",
                             "drive_name: done (\"NEW\" -> \"LUST CDE SIM\")\n",
                             "cam_profile: unchanged\n"})
        EXPECT_TRUE(restored.out.contains(QLatin1String(line))) << line << '\n' << describe(restored);
    EXPECT_TRUE(run("diff %1 --live", 0).out.isEmpty());

    // A read-only parameter that differs, and a value outside its range: neither written.
    QJsonArray parameters = saved.value(QLatin1String("parameters")).toArray();
    QJsonObject firmware = parameters[10].toObject();
    firmware.insert(QStringLiteral("value"), 1);
    parameters[10] = firmware;
    QJsonObject ramp = parameters[7].toObject();
    ramp.insert(QStringLiteral("value"), 200);
    parameters[7] = ramp;
    saved.insert(QStringLiteral("parameters"), parameters);
    const QString edited = written(directory.filePath(QStringLiteral("edited.json")),
                                   QJsonDocument(saved).toJson());
    const Result r = run(("restore " + edited).toUtf8(), 1, "firmware_version: read-only and "
                                                            "different (live 66051, set 1); not written\n");
    EXPECT_TRUE(r.out.contains(QLatin1String("ramp_time: refused: the set's value lies outside the "
                                             "range 0 to 100; not written\n")))
        << describe(r);
    EXPECT_EQ(run("read firmware_version", 0).out.trimmed(), QStringLiteral("66051"));

    // Another catalogue: refused, with --force compared and restored by name.
    QFile sample(SampleCatalogue);
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const QStringList other = simulator.link() + QStringList{QStringLiteral("--catalogue"),
        written(directory.filePath(QStringLiteral("other.json")),
                    sample.readAll().replace("\"version\": 1", "\"version\": 2"))};
    for (const char *command : {"restore", "diff --live"}) {
        const Result refused = expectRun(args(command) + QStringList{set} + other, 2,
                                         set + " was made with catalogue sample.json (SHA-256 ");
        EXPECT_TRUE(refused.err.contains(QLatin1String("not with other.json"))) << describe(refused);
    }
    expectRun(args("restore --force") + QStringList{set} + other, 0, "0 done, 21 unchanged");
}

// A parameter that cannot be read is listed with the driver's text and marks the set
// incomplete (exit 1); restore skips it. The default table holds -2.5 in parameter 18,
// which the driver's simple INT32Q16 read cannot give.
TEST(Catalogue, AFailedReadMakesTheSetIncomplete)
{
    SimulatorProcess defaultTable(args("--pty"));
    ASSERT_FALSE(defaultTable.link().isEmpty());
    QTemporaryDir directory;
    const QStringList link = defaultTable.link() + args("--catalogue " LUSTBUS_SAMPLE_CATALOGUE);
    const Result r = expectRun(args("backup --json") + link, 1,
                               "torque_offset: read INT32Q16:18> 32768.00 is where the driver's "
                               "simple INT32Q16 read stops");
    const QJsonObject set = json(r.out);
    EXPECT_FALSE(set.value(QLatin1String("complete")).toBool());
    EXPECT_EQ(set.value(QLatin1String("exit")).toInt(), 1);
    EXPECT_EQ(set.value(QLatin1String("error")).toString(),
              QStringLiteral("1 of 21 parameters could not be read; the set is marked incomplete"));
    EXPECT_TRUE(set.value(QLatin1String("parameters")).toArray()[8].toObject()
                    .value(QLatin1String("error")).toString().startsWith(QLatin1String("read INT32Q16:18> ")));

    const QString file = written(directory.filePath(QStringLiteral("incomplete.json")), r.out.toUtf8());
    expectRun(args("restore") + QStringList{file} + link, 0, {},
              "torque_offset: skipped: the set holds no value (read INT32Q16:18> ");
    expectRun(args("diff --live") + QStringList{file} + link, 0); // the same read fails on both sides
}

} // namespace
