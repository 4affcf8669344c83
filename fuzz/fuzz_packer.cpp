// Packer templates of any shape. Counts are kept to three digits so that the areas
// given to the packer are large enough for every template the harness lets through.
#include "tools/packer.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, size_t size)
{
    if (size > 24)
        return 0;
    std::string format(reinterpret_cast<const char *>(data), size);
    int digits = 0;
    for (char &c : format) {
        digits = (c >= '0' && c <= '9') ? digits + 1 : 0;
        if (digits > 3 || c == '\0')
            return 0;
    }
    // At most 24 items of at most 999 elements of 4 bytes.
    constexpr size_t area = 24 * 999 * 4 + 64;
    static std::vector<char> source(area, '\x5A');
    static std::vector<char> output(area);
    static std::vector<char> target(area);
    char *s = source.data();
    // Every argument is the source pointer: letters alone use its low bits as a value.
#define ARGS24 s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s
    const int packed = Pack(output.data(), format.c_str(), ARGS24);
    const QByteArray array = PackToArray(format.c_str(), ARGS24);
#undef ARGS24
    if (packed > int(area) || array.size() > int(area))
        std::abort();
    char *t = target.data();
#define TARGETS24 t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t
    const int consumed = Unpack(output.data(), format.c_str(), TARGETS24);
#undef TARGETS24
    if (consumed > int(area))
        std::abort();
    return 0;
}
