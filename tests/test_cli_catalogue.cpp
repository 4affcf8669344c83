// Parameter catalogues and parameter sets through the built lustbus program: catalogue
// files refused with their faults, names and units against "lustbus simulate
// --catalogue" on a pseudo-terminal, and the backup, diff and restore of a drive.
#include <gtest/gtest.h>

#include "cliprocess.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QTemporaryDir>

#include <sys/stat.h>

namespace {

const QString SampleCatalogue = QStringLiteral(LUSTBUS_SAMPLE_CATALOGUE);
// speed_setpoint's error in a set that a silent station gave.
const QString NoResponse = QStringLiteral("read INT16:12> no response");

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
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "access": "rw", "readOnly": true})",
         R"(entry 0 ("speed"): "access" "rw" and "readOnly" true contradict; give one)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "access": "ro", "readOnly": true})",
         R"("access" "ro" and "readOnly" true say the same; give one)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "min": 5, "max": 1})",
         R"(entry 0 ("speed"): bad range: "min" 5 lies above "max" 1)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "max": 40000})",
         R"(bad range: "max" 40000 does not fit INT16)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "min": 0, "max": 10, "value": 11})",
         R"(entry 0 ("speed"): "value" 11 lies outside the range 0 to 10)"},
        {'c', R"({"name": "target", "number": 14, "type": "INT32", "min": -1000000, "max": 1000000,
                  "value": 2000000})",
         R"("value" 2000000 lies outside the range -1000000 to 1000000)"},
        {'c', R"({"name": "label", "number": 19, "type": "STRING", "value": "%long"})",
         R"(entry 0 ("label"): "value" of 801 characters is longer than the 800 that one )"
         R"(telegram to parameter 19 carries)"},
        {'c', R"({"name": "torque", "number": 18, "type": "INT32Q16", "max": 50})",
         R"(entry 0 ("torque"): a simple INT32Q16 needs a "min" of 0 or more: the driver's )"
         R"(read cannot give a negative value, which comes back as 32768.00)"},
        {'c', R"({"name": "torque", "number": 18, "type": "INT32Q16", "min": -0.5, "value": 1})",
         R"(a simple INT32Q16 needs a "min" of 0 or more)"},
        {'c', R"({"name": "gains", "number": 101, "type": "INT16", "elements": 3, "value": [1, 2.5, 3]})",
         R"(element 1 of "value": 2.5 is not a whole number, as INT16 needs)"},
        {'c', R"({"name": "gains", "number": 101, "type": "INT16", "elements": 8, "value": [1, 2]})",
         R"("value" has 2 elements, "elements" says 8)"},
        {'c', R"({"name": "label", "number": 19, "type": "STRING", "elements": 8})",
         R"(a STRING has no "elements")"},
        {'c', R"({"name": "serial", "number": 22, "type": "USIGN32", "identity": true})",
         R"(entry 0 ("serial"): "identity" goes on a read-only parameter ("access": "ro"))"},
        {'c', R"({"name": "ids", "number": 9, "type": "USIGN8", "access": "ro", "identity": true,
                  "value": [1, 2]})",
         R"("identity" goes on a simple parameter, not on an array)"},
        {'c', R"({"name": "serial", "number": 22, "type": "USIGN32", "identity": 1})",
         R"("identity" is not true or false)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "device_class": "Speed"})",
         R"(entry 0 ("speed"): "device_class" "Speed" is not a device class: a lower-case )"
         R"(letter, then lower-case letters, digits or _)"},
        {'c', R"({"name": "speed", "number": 12, "type": "INT16", "device_class": 3})",
         R"("device_class" is not a string)"},
        {'c', R"({"name": "word", "number": 13, "type": "USIGN16", "bits": {"enable": 16}})",
         R"(entry 0 ("word"): "bits": "enable" is not a bit of USIGN16: a whole number from 0 )"
         R"(to 15)"},
        {'c', R"({"name": "word", "number": 13, "type": "INT8", "bits": {"enable": -1}})",
         R"("bits": "enable" is not a bit of INT8: a whole number from 0 to 7)"},
        {'c', R"({"name": "word", "number": 13, "type": "USIGN32", "bits": {"on": 0.5}})",
         R"("bits": "on" is not a bit of USIGN32: a whole number from 0 to 31)"},
        {'c', R"({"name": "word", "number": 13, "type": "USIGN16", "bits": {"a": 3, "b": 3}})",
         R"(entry 0 ("word"): "bits": "a" and "b" both name bit 3)"},
        {'c', R"({"name": "word", "number": 13, "type": "USIGN16", "bits": {"2go": 1}})",
         R"("bits": "2go" is not a name: a letter or _, then letters, digits or _)"},
        {'c', R"({"name": "word", "number": 13, "type": "USIGN16", "bits": [1]})",
         R"("bits" is not an object of {"NAME": BIT, ...})"},
        {'c', R"({"name": "limit", "number": 16, "type": "FLOAT32", "bits": {"on": 0}})",
         R"(entry 0 ("limit"): "bits" goes on an integer (INT8 to USIGN32), not on FLOAT32)"},
        {'c', R"({"name": "ramp", "number": 17, "type": "FIXPT16", "bits": {"on": 0}})",
         R"("bits" goes on an integer (INT8 to USIGN32), not on FIXPT16)"},
        {'c', R"({"name": "torque", "number": 18, "type": "INT32Q16", "min": 0, "bits": {"on": 0}})",
         R"("bits" goes on an integer (INT8 to USIGN32), not on INT32Q16)"},
        {'c', R"({"name": "label", "number": 19, "type": "STRING", "bits": {"on": 0}})",
         R"("bits" goes on an integer (INT8 to USIGN32), not on STRING)"},
        {'c', R"({"name": "ids", "number": 9, "type": "USIGN8", "value": [1, 2], "bits": {"on": 0}})",
         R"("bits" goes on a simple parameter, not on an array)"},
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
        const QByteArray entries =
            QByteArray(fault.entries).replace("%1", ok).replace("%long", QByteArray(801, 'x'));
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

    // The longest text a telegram carries is served and read back whole; an INT32Q16
    // array takes negative values, as its elements are read with their sign (-2.5 as
    // -2.49 by the driver's rounding).
    const QString longest = QString(800, QLatin1Char('x'));
    const QString file = written(directory.filePath(QStringLiteral("text.json")),
        QStringLiteral(R"({"parameters": [{"name": "label", "number": 19, "type": "STRING",
            "value": "%1"}, {"name": "torques", "number": 104, "type": "INT32Q16",
            "elements": 2, "value": [-2.5, 1]}]})").arg(longest).toUtf8());
    const Result r = expectRun(args("list --values --json --sim --catalogue") << file, 0);
    const QJsonArray values = json(r.out).value(QLatin1String("parameters")).toArray();
    EXPECT_EQ(values[0].toObject().value(QLatin1String("value")).toString(), longest);
    EXPECT_EQ(compact(QJsonObject{{"v", values[1].toObject().value(QLatin1String("value"))}}),
              compact(R"({"v": [-2.49, 1]})"));
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
    QStringList identity;
    for (const QJsonValue &parameter : parameters)
        if (parameter.toObject().value(QLatin1String("identity")).toBool())
            identity.append(parameter.toObject().value(QLatin1String("name")).toString());
    EXPECT_EQ(identity.join(QLatin1Char(' ')).toStdString(), "firmware_version drive_type");
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
// incomplete (exit 1); restore --partial skips it. The default table holds -2.5 in
// parameter 18, which the driver's simple INT32Q16 read cannot give.
TEST(Catalogue, AFailedReadMakesTheSetIncomplete)
{
    SimulatorProcess defaultTable(args("--pty"));
    ASSERT_FALSE(defaultTable.link().isEmpty());
    QTemporaryDir directory;
    const QStringList link = defaultTable.link() + args("--catalogue " LUSTBUS_SAMPLE_CATALOGUE);
    const Result r = expectRun(args("backup --json") + link, 1,
                               "torque_offset: read INT32Q16:18> 32768.00 is where the driver's "
                               "simple INT32Q16 read stops");
    // Read by name, the same: no value and exit 1, never 32768.00 Nm.
    expectRun(args("read torque_offset") + link, 1,
              "lustbus read: read INT32Q16:18> 32768.00 is where the driver's simple INT32Q16 "
              "read stops");
    const QJsonObject set = json(r.out);
    EXPECT_FALSE(set.value(QLatin1String("complete")).toBool());
    EXPECT_EQ(set.value(QLatin1String("exit")).toInt(), 1);
    EXPECT_EQ(set.value(QLatin1String("error")).toString(),
              QStringLiteral("1 of 21 parameters could not be read; the set is marked incomplete"));
    EXPECT_TRUE(set.value(QLatin1String("parameters")).toArray()[8].toObject()
                    .value(QLatin1String("error")).toString().startsWith(QLatin1String("read INT32Q16:18> ")));

    const QString file = written(directory.filePath(QStringLiteral("incomplete.json")), r.out.toUtf8());
    expectRun(args("restore --partial") + QStringList{file} + link, 0, {},
              "torque_offset: skipped: the set holds no value (read INT32Q16:18> ");
    // The same read fails on both sides: equal or not is unknown.
    expectRun(args("diff --live") + QStringList{file} + link, 2,
              "could not compare 1 parameter, as a read failed: torque_offset");
}

// set with parameter index's "value" replaced by value, or by an "error" text.
QByteArray edited(const QByteArray &set, int index, const char *key, const QJsonValue &value)
{
    QJsonObject root = QJsonDocument::fromJson(set).object();
    QJsonArray parameters = root.value(QLatin1String("parameters")).toArray();
    QJsonObject parameter = parameters[index].toObject();
    parameter.remove(QStringLiteral("value"));
    parameter.remove(QStringLiteral("error"));
    parameter.insert(QLatin1String(key), value);
    parameters[index] = parameter;
    root.insert(QStringLiteral("parameters"), parameters);
    return QJsonDocument(root).toJson();
}

// diff exits as diff(1): 0 equal, 1 different, 2 trouble, which includes a parameter
// that a read did not give, now or at backup, and a link that does not open.
TEST(Catalogue, DiffExitsAsDiff1)
{
    SimulatorProcess simulator(args("--pty --catalogue " LUSTBUS_SAMPLE_CATALOGUE));
    ASSERT_FALSE(simulator.link().isEmpty());
    QTemporaryDir directory;
    const QStringList catalogue = args("--catalogue " LUSTBUS_SAMPLE_CATALOGUE);
    const QStringList live = args("--live --timeout 300 --retries 0") + simulator.link()
                             + catalogue;
    const QString good = directory.filePath(QStringLiteral("good.json"));
    expectRun(args("backup -o") << good << live.mid(1), 0);
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray set = file.readAll();
    const QString changed = written(directory.filePath(QStringLiteral("changed.json")),
                                   edited(set, 2, "value", 1500)),
                  partial = written(directory.filePath(QStringLiteral("partial.json")),
                                    edited(set, 2, "error", NoResponse));
    const struct { QStringList arguments; int exitCode; const char *out, *err; } runs[] = {
        {{good, good}, 0, "", ""},
        {{good, changed}, 1, "speed_setpoint: -1234 rpm -> 1500 rpm\n", ""},
        {{good, partial}, 2, "speed_setpoint: -1234 rpm -> (read INT16:12> no response)\n",
         "lustbus diff: could not compare 1 parameter, as a read failed: speed_setpoint"},
        {{partial, partial}, 2,
         "speed_setpoint: (read INT16:12> no response) -> (read INT16:12> no response)\n",
         "could not compare 1 parameter"},
        {QStringList{good} + live, 0, "", ""},
        {QStringList{changed} + live, 1, "speed_setpoint: 1500 rpm -> -1234 rpm\n", ""},
        {QStringList{good} + live + args("--station 2 --timeout 20"), 2, nullptr,
         "cannot identify station 2 on serial "},
        {QStringList{good} + args("--live --json --station 2 --timeout 20") + simulator.link()
             + catalogue, 2, nullptr, "firmware_version: read USIGN32:20> no response; "
                                              "nothing compared"},
        {QStringList{good} + args("--live --port /dev/null/none") + catalogue, 2, "",
         "/dev/null/none"},
        {QStringList{good}, 2, "", "missing B"},
    };
    for (const auto &run : runs) {
        const Result r = expectRun(QStringList{QStringLiteral("diff")} + run.arguments,
                                   run.exitCode, QString::fromUtf8(run.err));
        if (run.out) {
            EXPECT_EQ(r.out.toStdString(), run.out) << describe(r);
        }
    }
}

// What a file holds, as backup -o sees it.
enum Held { None, Empty, Complete, Incomplete, Other };

Held held(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return None;
    const QByteArray bytes = file.readAll();
    const QJsonObject set = QJsonDocument::fromJson(bytes).object();
    if (bytes.isEmpty())
        return Empty;
    if (set.value(QLatin1String("format")) != QLatin1String("lustbus parameter set"))
        return Other;
    return set.value(QLatin1String("complete")).toBool() ? Complete : Incomplete;
}

// backup -o FILE never puts a worse file in the place of a better one: an incomplete
// set goes to FILE.partial unless --force, a file that is no set stays unless --force,
// and a write leaves no temporary file behind. Station 2 does not answer.
TEST(Catalogue, ABackupNeverReplacesABetterFile)
{
    SimulatorProcess simulator(args("--pty --catalogue " LUSTBUS_SAMPLE_CATALOGUE));
    ASSERT_FALSE(simulator.link().isEmpty());
    const QStringList answering =
        simulator.link() + args("--timeout 300 --retries 0 --catalogue " LUSTBUS_SAMPLE_CATALOGUE);
    const QStringList silent = answering + args("--station 2 --timeout 20");
    const QByteArray sets[] = {{}, {}, expectRun(args("backup") + answering, 0).out.toUtf8(),
                               expectRun(args("backup") + silent, 1).out.toUtf8(), "notes\n"};
    const char *saved = "lustbus backup: 21 of 21 parameters could not be read; the set is marked "
                        "incomplete and saved to %1.partial, as -o %1 takes only a complete set "
                        "(--force writes it to %1)";
    const struct { Held before, partialBefore; bool silent; const char *force; int exitCode;
                   const char *err; Held after, partial; } rows[] = {
        {Complete, None, true, "", 1, saved, Complete, Incomplete},
        {Complete, None, true, "--force", 1, "could not be read; the set is marked incomplete\n",
         Incomplete, None},
        {None, None, true, "", 1, saved, None, Incomplete},
        {Incomplete, Incomplete, true, "", 1, saved, Incomplete, Incomplete},
        {Incomplete, Incomplete, false, "", 0, "saved to %1\n", Complete, Incomplete},
        {Empty, None, false, "", 0, "saved to %1\n", Complete, None},
        {Other, None, true, "", 2, "parameter set \"%1\": not JSON: ", Other, None},
        {None, Other, false, "", 2, "parameter set \"%1.partial\": not JSON: ", None, Other},
        {Other, None, false, "--force", 0, "saved to %1\n", Complete, None},
    };
    for (const auto &row : rows) {
        QTemporaryDir directory;
        const QString file = directory.filePath(QStringLiteral("axis.json"));
        const QString partial = file + QStringLiteral(".partial");
        if (row.before != None)
            written(file, sets[row.before]);
        if (row.partialBefore != None)
            written(partial, sets[row.partialBefore]);
        const Result r = expectRun(args("backup -o") << file << args(row.force)
                                                      << (row.silent ? silent : answering),
                                   row.exitCode, QString::fromUtf8(row.err).arg(file));
        EXPECT_EQ(held(file), row.after) << describe(r);
        EXPECT_EQ(held(partial), row.partial) << describe(r);
        // A file that must stay keeps its bytes; no temporary file stays behind.
        if (row.after == row.before && row.after != None) {
            QFile kept(file);
            EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == sets[row.before]);
        }
        EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files).size(),
                  (row.after != None) + (row.partial != None)) << describe(r);
    }
    expectRun(args("backup --force") + answering, 2, "--force goes with -o");

    // A pipe, as /dev/null, is written into: renamed over, /dev/null would become a file.
    QTemporaryDir directory;
    const QByteArray pipe = QFile::encodeName(directory.filePath(QStringLiteral("pipe")));
    ASSERT_EQ(mkfifo(pipe.constData(), 0600), 0);
    const int reader = open(pipe.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    expectRun(args("backup -o") << QFile::decodeName(pipe) << answering, 0, "saved to " + pipe);
    QByteArray received(1 << 16, '\0');
    received.resize(int(qMax<ssize_t>(0, read(reader, received.data(), size_t(received.size())))));
    close(reader);
    EXPECT_FALSE(QFileInfo(QFile::decodeName(pipe)).isFile());
    EXPECT_TRUE(QJsonDocument::fromJson(received).object().value(QLatin1String("complete")).toBool());
}

// restore takes a set that lacks values only with --partial, and a restore that
// restored nothing fails; one that found everything unchanged did its work.
TEST(Catalogue, RestoreNeedsValuesAndRestoresSomething)
{
    SimulatorProcess simulator(args("--pty --catalogue " LUSTBUS_SAMPLE_CATALOGUE));
    ASSERT_FALSE(simulator.link().isEmpty());
    const QStringList link =
        simulator.link() + args("--timeout 300 --retries 0 --catalogue " LUSTBUS_SAMPLE_CATALOGUE);
    QTemporaryDir directory;
    const QByteArray complete = expectRun(args("backup") + link, 0).out.toUtf8();
    const QByteArray none =
        expectRun(args("backup") + link + args("--station 2 --timeout 20"), 1).out.toUtf8();
    const auto file = [&](const char *name, const QByteArray &content) {
        return written(directory.filePath(QLatin1String(name)), content);
    };
    const QString whole = file("whole.json", complete),
                  lacking = file("lacking.json", edited(complete, 2, "error", NoResponse)),
                  empty = file("empty.json", none),
                  readOnly = file("readonly.json", edited(none, 10, "value", 1));
    QJsonObject root = QJsonDocument::fromJson(none).object();
    root.insert(QStringLiteral("parameters"), QJsonArray());
    const QString noParameters = file("nothing.json", QJsonDocument(root).toJson());
    const struct { QString set; const char *partial; int exitCode; const char *err, *out; } rows[] = {
        {whole, "", 0, "0 done, 21 unchanged", "cam_profile: unchanged\n"},
        {lacking, "", 2, "%1 is incomplete: 1 of 21 parameters have no value (speed_setpoint); "
                         "--partial restores the others", ""},
        {lacking, "--partial", 0, "0 done, 20 unchanged, 0 refused, 0 unknown, 0 read-only and different, 1 skipped",
         "speed_setpoint: skipped: the set holds no value (read INT16:12> no response)\n"},
        {empty, "", 2, "%1 holds no value to restore (21 parameters, none read)", ""},
        {empty, "--partial", 1, "0 done, 0 unchanged, 0 refused, 0 unknown, 0 read-only and "
                                "different, 21 skipped, 0 failed, 0 not tried; nothing restored", ""},
        {readOnly, "--partial", 1, "1 read-only and different, 20 skipped, 0 failed, 0 not tried; nothing",
         "firmware_version: read-only and different (live 66051, set 1); not written\n"},
        {noParameters, "", 2, "%1 holds no parameter to restore", ""},
    };
    for (const auto &row : rows)
        expectRun(args("restore") << row.set << args(row.partial) << link, row.exitCode,
                  QString::fromUtf8(row.err).arg(row.set), QString::fromUtf8(row.out));
}

} // namespace
