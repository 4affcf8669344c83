#include "packer.h"

#include <QtCore/QtEndian>

#include <climits>
#include <cstring>

namespace {

enum class Result { Done, BadCount, Unlisted, NullPointer };

struct Item
{
    char letter = 0;
    bool counted = false;
    qint64 count = 1;
};

enum class Next { End, Item, BadCount };

// Reads the item at *at and moves past it.
Next nextItem(const char *&at, Item &item)
{
    if (*at == '\0')
        return Next::End;
    item = Item();
    if (*at >= '0' && *at <= '9') {
        item.counted = true;
        item.count = 0;
        for (; *at >= '0' && *at <= '9'; ++at) {
            item.count = item.count * 10 + (*at - '0');
            if (item.count > INT_MAX)
                return Next::BadCount;
        }
        if (*at == '\0')
            return Next::BadCount;
    }
    item.letter = *at++;
    if (!item.counted)
        return Next::Item;
    switch (item.letter) {
    case 'x': case 'X':
        return Next::Item;
    case 'C': case 'c': case 'v': case 'V': case 'n': case 'N':
        return item.count == 0 ? Next::BadCount : Next::Item;
    default:
        return Next::BadCount;
    }
}

// Raw output: the caller's buffer. X skips bytes and leaves them as they are.
struct RawOutput
{
    static constexpr bool isArray = false;
    explicit RawOutput(char *start) : start(start), at(start) {}
    void put(const void *bytes, int n) { std::memcpy(at, bytes, size_t(n)); at += n; }
    void zeros(int n) { std::memset(at, 0, size_t(n)); at += n; }
    void skip(int n) { at += n; }
    qint64 size() const { return at - start; }
    char *start;
    char *at;
};

// A growing array: there is nothing to skip over, so X appends a zero byte.
struct ArrayOutput
{
    static constexpr bool isArray = true;
    void put(const void *bytes, int n) { data.append(static_cast<const char *>(bytes), n); }
    void zeros(int n) { data.append(n, '\0'); }
    void skip(int n) { zeros(n); }
    qint64 size() const { return data.size(); }
    QByteArray data;
};

// Bytes of one value of a letter alone; 0 for an unlisted character.
int letterWidth(char letter)
{
    switch (letter) {
    case 'C': case 'c': case 'x': case 'X': return 1;
    case 'S': case 's': case 'v': case 'n': return 2;
    case 'I': case 'L': case 'V': case 'i': case 'l': case 'N': return 4;
    default: return 0;
    }
}

// Bytes that an item covers in the telegram.
qint64 itemBytes(const Item &item)
{
    return item.count * letterWidth(item.letter);
}

// The elements of a counted item from the host's array at source.
template <typename Output>
void putElements(Output &out, const Item &item, const uchar *source)
{
    const int count = int(item.count);
    switch (item.letter) {
    case 'n':
        for (int j = 0; j < count; ++j) {
            uchar bytes[2];
            qToBigEndian(qFromUnaligned<quint16>(source + 2 * j), bytes);
            out.put(bytes, 2);
        }
        break;
    case 'N':
        for (int j = 0; j < count; ++j) {
            uchar bytes[4];
            qToBigEndian(qFromUnaligned<quint32>(source + 4 * j), bytes);
            out.put(bytes, 4);
        }
        break;
    default: // C, c, v, V: copied unchanged
        out.put(source, int(itemBytes(item)));
        break;
    }
}

template <typename Output>
Result packItems(Output &out, const char *format, va_list values)
{
    Item item;
    qint64 total = 0;
    for (;;) {
        const Next next = nextItem(format, item);
        if (next == Next::End)
            return Result::Done;
        if (next == Next::BadCount)
            return Result::BadCount;
        total += itemBytes(item);
        if (total > INT_MAX)
            return Result::BadCount;
        if (!item.counted) {
            uchar bytes[4];
            switch (item.letter) {
            case 'C': case 'c':
                bytes[0] = uchar(va_arg(values, unsigned int));
                out.put(bytes, 1);
                break;
            case 'S': case 's': case 'v':
                qToLittleEndian(quint16(va_arg(values, unsigned int)), bytes);
                out.put(bytes, 2);
                break;
            case 'n':
                qToBigEndian(quint16(va_arg(values, unsigned int)), bytes);
                out.put(bytes, 2);
                break;
            case 'I': case 'L': case 'V': case 'i': case 'l':
                qToLittleEndian(quint32(va_arg(values, unsigned int)), bytes);
                out.put(bytes, 4);
                break;
            case 'N':
                qToBigEndian(quint32(va_arg(values, unsigned int)), bytes);
                out.put(bytes, 4);
                break;
            case 'x':
                out.zeros(1);
                break;
            case 'X':
                out.skip(1);
                break;
            default:
                return Result::Unlisted;
            }
            continue;
        }
        const int count = int(item.count);
        if (item.letter == 'x' || item.letter == 'X') {
            if (Output::isArray)
                return Result::BadCount;
            if (item.letter == 'x')
                out.zeros(count);
            else
                out.skip(count);
            continue;
        }
        const uchar *source = static_cast<const uchar *>(va_arg(values, const void *));
        if (source == nullptr)
            return Result::NullPointer;
        putElements(out, item, source);
    }
}

} // namespace

int Pack(char *output, const char *format, ...)
{
    va_list values;
    va_start(values, format);
    const int advanced = VPack(output, format, values);
    va_end(values);
    return advanced;
}

int VPack(char *output, const char *format, va_list values)
{
    if (format == nullptr || *format == '\0')
        return 0;
    if (output == nullptr)
        return -1;
    RawOutput out(output);
    switch (packItems(out, format, values)) {
    case Result::Done: return int(out.size());
    case Result::Unlisted: return 0;
    default: return -1;
    }
}

QByteArray PackToArray(const char *format, ...)
{
    va_list values;
    va_start(values, format);
    QByteArray packed = VPackToArray(format, values);
    va_end(values);
    return packed;
}

QByteArray VPackToArray(const char *format, va_list values)
{
    if (format == nullptr)
        return QByteArray();
    ArrayOutput out;
    return packItems(out, format, values) == Result::Done ? out.data : QByteArray();
}

int Unpack(const char *input, const char *format, ...)
{
    va_list targets;
    va_start(targets, format);
    const int consumed = VUnpack(input, format, targets);
    va_end(targets);
    return consumed;
}

int VUnpack(const char *input, const char *format, va_list targets)
{
    if (format == nullptr || *format == '\0')
        return 0;
    if (input == nullptr)
        return -1;
    const uchar *const start = reinterpret_cast<const uchar *>(input);
    const uchar *at = start;
    Item item;
    qint64 total = 0;
    for (;;) {
        const Next next = nextItem(format, item);
        if (next == Next::End)
            return int(at - start);
        if (next == Next::BadCount)
            return -1;
        total += itemBytes(item);
        if (total > INT_MAX)
            return -1;
        if (item.letter == 'x' || item.letter == 'X') {
            at += item.count;
            continue;
        }
        if (letterWidth(item.letter) == 0)
            return -1; // before taking an argument that the caller may not have passed
        void *target = va_arg(targets, void *);
        if (target == nullptr)
            return -1;
        if (!item.counted) {
            switch (item.letter) {
            case 'C': case 'c':
                *static_cast<quint8 *>(target) = at[0];
                at += 1;
                break;
            case 'S': case 's': case 'v':
                *static_cast<quint16 *>(target) = qFromLittleEndian<quint16>(at);
                at += 2;
                break;
            case 'n':
                *static_cast<quint16 *>(target) = qFromBigEndian<quint16>(at);
                at += 2;
                break;
            case 'I': case 'L': case 'V': case 'i': case 'l':
                *static_cast<quint32 *>(target) = qFromLittleEndian<quint32>(at);
                at += 4;
                break;
            case 'N':
                *static_cast<quint32 *>(target) = qFromBigEndian<quint32>(at);
                at += 4;
                break;
            default:
                return -1;
            }
            continue;
        }
        const int count = int(item.count);
        uchar *area = static_cast<uchar *>(target);
        switch (item.letter) {
        case 'n':
            for (int j = 0; j < count; ++j, at += 2)
                qToUnaligned(qFromBigEndian<quint16>(at), area + 2 * j);
            break;
        case 'N':
            for (int j = 0; j < count; ++j, at += 4)
                qToUnaligned(qFromBigEndian<quint32>(at), area + 4 * j);
            break;
        default: // C, c, v, V: copied unchanged
            std::memcpy(area, at, size_t(itemBytes(item)));
            at += itemBytes(item);
            break;
        }
    }
}
