// The line formatter; see line_format.h.
#include "decode/line_format.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "common/text_format.h"

namespace kestrine {

namespace {

// Writes into the line, cutting at its capacity.
class Writer {
public:
    Writer(char* out, int capacity) : m_out(out), m_end(out + capacity - 1), m_at(out) {}
    void Put(char c)
    {
        if (m_at < m_end) *m_at++ = c;
    }
    void Fill(char c, int n)
    {
        const int room = static_cast<int>(m_end - m_at);
        if (n > room) n = room;
        if (n <= 0) return;
        std::memset(m_at, c, static_cast<size_t>(n));
        m_at += n;
    }
    void Text(const char* s, size_t n)
    {
        const auto room = static_cast<size_t>(m_end - m_at);
        if (n > room) n = room;
        std::memcpy(m_at, s, n);
        m_at += n;
    }
    int Finish()
    {
        *m_at = '\0';
        return static_cast<int>(m_at - m_out);
    }

private:
    char* m_out;
    char* m_end;
    char* m_at;
};

struct Conversion {
    bool left = false, zero = false, blank = false;
    int width = 0;
    int precision = -1;
};

// Digits of magnitude in base 10 or 16, written backwards ending at end; returns where they
// begin. A constant base lets the compiler divide by multiplying.
template <unsigned BASE>
char* Digits(unsigned long long magnitude, char* end)
{
    if (magnitude <= 0xFFFFFFFFu) {
        auto v = static_cast<uint32_t>(magnitude);
        do {
            *--end = HEX_DIGITS[v % BASE];
            v /= BASE;
        } while (v != 0);
        return end;
    }
    do {
        *--end = HEX_DIGITS[magnitude % BASE];
        magnitude /= BASE;
    } while (magnitude != 0);
    return end;
}

// Digits with the sign of %d or %f and the conversion's padding.
void Padded(Writer& w, const Conversion& conversion, const char* digits, int n, bool negative)
{
    const char sign = negative ? '-' : (conversion.blank ? ' ' : '\0');
    const int length = n + (sign ? 1 : 0);
    const int pad = conversion.width > length ? conversion.width - length : 0;
    if (!conversion.left && !conversion.zero) w.Fill(' ', pad);
    if (sign) w.Put(sign);
    if (!conversion.left && conversion.zero) w.Fill('0', pad);
    w.Text(digits, static_cast<size_t>(n));
    if (conversion.left) w.Fill(' ', pad);
}

template <unsigned BASE>
void Number(Writer& w, const Conversion& conversion, unsigned long long magnitude, bool negative)
{
    char digits[24];
    char* const end = digits + sizeof digits;
    const char* begin = Digits<BASE>(magnitude, end);
    Padded(w, conversion, begin, static_cast<int>(end - begin), negative);
}

constexpr double POWERS_OF_TEN[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// %f done here when the value scaled by the precision is exact in a double, below 2^53 and
// not halfway between two results: then every correct printf rounds it alike. Anything else
// (ties, whose rounding differs between C libraries, huge or odd values) is left to the
// library. Returns whether it wrote.
bool FixedPoint(Writer& w, const Conversion& conversion, double value)
{
    const int precision = conversion.precision < 0 ? 6 : conversion.precision;
    if (precision >= static_cast<int>(std::size(POWERS_OF_TEN)) || !std::isfinite(value)) return false;
    const double scale = POWERS_OF_TEN[precision];
    const double scaled = value * scale;
    if (std::fma(value, scale, -scaled) != 0 || std::fabs(scaled) >= 9007199254740992.0) return false;
    const double whole = std::floor(std::fabs(scaled));
    const double fraction = std::fabs(scaled) - whole;
    if (fraction == 0.5) return false;
    const auto magnitude = static_cast<unsigned long long>(whole) + (fraction > 0.5 ? 1 : 0);
    const auto unit = static_cast<unsigned long long>(scale);
    char digits[40];
    char* const end = digits + sizeof digits;
    char* begin = end;
    if (precision > 0) {
        unsigned long long rest = magnitude % unit;
        for (int i = 0; i < precision; ++i, rest /= 10) *--begin = static_cast<char>('0' + rest % 10);
        *--begin = '.';
    }
    begin = Digits<10>(magnitude / unit, begin);
    Padded(w, conversion, begin, static_cast<int>(end - begin), std::signbit(value));
    return true;
}

}  // namespace

int FormatLineV(char* out, int capacity, const char* format, va_list args)
{
    Writer w(out, capacity);
    for (const char* f = format; *f; ++f) {
        if (*f != '%') {
            const char* run = f;  // the literal text up to the next conversion
            while (f[1] && f[1] != '%') ++f;
            w.Text(run, static_cast<size_t>(f - run + 1));
            continue;
        }
        const char* start = f++;
        Conversion conversion;
        for (;; ++f) {
            if (*f == '-') conversion.left = true;
            else if (*f == '0') conversion.zero = true;
            else if (*f == ' ') conversion.blank = true;
            else break;
        }
        while (*f >= '0' && *f <= '9') conversion.width = conversion.width * 10 + (*f++ - '0');
        if (*f == '.') {
            conversion.precision = 0;
            for (++f; *f >= '0' && *f <= '9'; ++f) conversion.precision = conversion.precision * 10 + (*f - '0');
        }
        int longs = 0;  // the length modifiers l and ll
        for (; *f == 'l' && longs < 2; ++f) ++longs;
        switch (*f) {
        case 'd': {
            const long long v = longs == 2 ? va_arg(args, long long) : longs == 1 ? va_arg(args, long) : va_arg(args, int);
            const bool negative = v < 0;
            Number<10>(w, conversion, negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v),
                       negative);
            break;
        }
        case 'u':
        case 'x': {
            const unsigned long long v = longs == 2   ? va_arg(args, unsigned long long)
                                         : longs == 1 ? va_arg(args, unsigned long)
                                                      : va_arg(args, unsigned);
            if (*f == 'x') Number<16>(w, conversion, v, false);
            else Number<10>(w, conversion, v, false);
            break;
        }
        case 's': {
            const char* s = va_arg(args, const char*);
            int n = static_cast<int>(conversion.precision >= 0 ? strnlen(s, static_cast<size_t>(conversion.precision)) : std::strlen(s));
            const int pad = conversion.width > n ? conversion.width - n : 0;
            if (!conversion.left) w.Fill(' ', pad);
            w.Text(s, static_cast<size_t>(n));
            if (conversion.left) w.Fill(' ', pad);
            break;
        }
        case 'f': {
            const double value = va_arg(args, double);
            if (FixedPoint(w, conversion, value)) break;
            // Otherwise the whole conversion, flags and all, goes to the library.
            char piece[64], text[16];
            const size_t textLength = static_cast<size_t>(f - start + 1);
            if (textLength >= sizeof text) return w.Finish();
            std::memcpy(text, start, textLength);
            text[textLength] = '\0';
            const int n = std::snprintf(piece, sizeof piece, text, value);
            w.Text(piece, static_cast<size_t>(n < 0 ? 0 : (n < static_cast<int>(sizeof piece) ? n : static_cast<int>(sizeof piece) - 1)));
            break;
        }
        case '%': w.Put('%'); break;
        default: return w.Finish();  // not a conversion this formatter knows: stop here
        }
    }
    return w.Finish();
}

int FormatLine(char* out, int capacity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = FormatLineV(out, capacity, format, args);
    va_end(args);
    return n;
}

NodeId AddLine(DetailTree& tree, NodeId parent, const char* format, ...)
{
    char line[LINE_CAPACITY];
    va_list args;
    va_start(args, format);
    const int n = FormatLineV(line, sizeof line, format, args);
    va_end(args);
    return tree.InsertLine(std::string_view(line, static_cast<size_t>(n)), parent);
}

LineBuilder& LineBuilder::Fixed(double value, int width, int precision)
{
    char piece[64];
    Writer w(piece, sizeof piece);
    Conversion conversion;
    conversion.blank = true;
    conversion.width = width;
    conversion.precision = precision;
    int n = 0;
    if (FixedPoint(w, conversion, value)) {
        n = w.Finish();
    } else {
        n = std::snprintf(piece, sizeof piece, "% *.*f", width, precision, value);
        n = n < 0 ? 0 : (n < static_cast<int>(sizeof piece) ? n : static_cast<int>(sizeof piece) - 1);
    }
    return Text(std::string_view(piece, static_cast<size_t>(n)));
}

}  // namespace kestrine
