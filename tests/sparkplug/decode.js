// Decodes Sparkplug B payloads with the sparkplug-payload package, for the bridge's
// tests: each stdin line "TOPIC HEX" gives one stdout line {"topic", "payload"} with
// the payload as the package decodes it, 64-bit numbers as numbers. A line that is a
// JSON payload as the package takes it ({"metrics": [{"name", "type", "value"}]})
// gives the hex of its encoding: the commands the tests send.
//
// A host learns a metric's datatype from its birth; data and commands name only the
// alias. So the births seen are kept, and a metric without a datatype gets its
// birth's before the package decodes it. The package reads a UInt32 from the long
// value, as Sparkplug wrote it before 3.0, and leaves the 3.0 array types alone:
// those are read here from the int value and the little-endian bytes.
'use strict';
const readline = require('readline');
const sparkplug = require('sparkplug-payload').get('spBv1.0');
const Payload = require('sparkplug-payload/lib/sparkplugPayloadProto').org.eclipse.tahu.protobuf.Payload;

const ArrayTypes = {
    22: ['Int8Array', 1, (b, i) => b.readInt8(i)],
    23: ['Int16Array', 2, (b, i) => b.readInt16LE(i)],
    24: ['Int32Array', 4, (b, i) => b.readInt32LE(i)],
    26: ['UInt8Array', 1, (b, i) => b.readUInt8(i)],
    27: ['UInt16Array', 2, (b, i) => b.readUInt16LE(i)],
    28: ['UInt32Array', 4, (b, i) => b.readUInt32LE(i)],
    30: ['FloatArray', 4, (b, i) => b.readFloatLE(i)],
    31: ['DoubleArray', 8, (b, i) => b.readDoubleLE(i)],
};
const births = new Map(); // "GROUP/NODE[/DEVICE]" -> Map(alias -> datatype)

function plain(value) {
    if (value && typeof value.toNumber === 'function')
        return value.toNumber();
    if (value instanceof Uint8Array)
        return Buffer.from(value).toString('hex');
    if (Array.isArray(value))
        return value.map(plain);
    if (value && typeof value === 'object') {
        const out = {};
        for (const key of Object.keys(value))
            out[key] = plain(value[key]);
        return out;
    }
    return value;
}

// What the package leaves out: UInt32 in the int value, the array types.
function fixValue(raw, decoded) {
    const type = raw.datatype;
    if (raw.isNull)
        return;
    if (type === 7 && raw.value === 'intValue')
        decoded.value = raw.intValue >>> 0;
    const array = ArrayTypes[type];
    if (array && raw.value === 'bytesValue') {
        const bytes = Buffer.from(raw.bytesValue);
        decoded.type = array[0];
        decoded.value = [];
        for (let i = 0; i + array[1] <= bytes.length; i += array[1])
            decoded.value.push(array[2](bytes, i));
    }
}

function fixProperties(raw, decoded) {
    if (!raw.properties || !decoded.properties)
        return;
    raw.properties.keys.forEach((key, i) => {
        const value = raw.properties.values[i];
        if (value.type === 7 && value.value === 'intValue')
            decoded.properties[key].value = value.intValue >>> 0;
    });
}

function decode(topic, bytes) {
    const levels = topic.split('/');
    const type = levels[2];
    const key = [levels[1], levels[3]].concat(levels.slice(4)).join('/');
    const raw = Payload.decode(bytes);
    if (type === 'NBIRTH' || type === 'DBIRTH') {
        const aliases = new Map();
        for (const metric of raw.metrics) {
            if (metric.alias !== undefined && metric.alias !== null)
                aliases.set(Number(metric.alias), metric.datatype);
        }
        births.set(key, aliases);
    }
    const known = births.get(key) || new Map();
    for (const metric of raw.metrics) {
        if (!metric.datatype && known.has(Number(metric.alias)))
            metric.datatype = known.get(Number(metric.alias));
    }
    const payload = sparkplug.decodePayload(Payload.encode(raw).finish());
    (payload.metrics || []).forEach((metric, i) => {
        fixValue(raw.metrics[i], metric);
        fixProperties(raw.metrics[i], metric);
    });
    return plain(payload);
}

const lines = readline.createInterface({input: process.stdin});
lines.on('line', (line) => {
    if (line.startsWith('{')) {
        const hex = Buffer.from(sparkplug.encodePayload(JSON.parse(line))).toString('hex');
        process.stdout.write(hex + '\n');
        return;
    }
    const space = line.lastIndexOf(' ');
    const topic = line.slice(0, space);
    let out;
    try {
        out = {topic, payload: decode(topic, Buffer.from(line.slice(space + 1), 'hex'))};
    } catch (e) {
        out = {topic, error: String(e)};
    }
    process.stdout.write(JSON.stringify(out) + '\n');
});
