// The line formatter; see line_format.h.
#include "decode/line_format.h"

#include <cstdio>
#include <cstring>

#include "common/text_format.h"

namespace kestrine {

namespace {

class Writer {
public:
    Writer(char* out, int capacity) : m_out(out), m_end(out + capacity - 1), m_at(out) {}
    void Put(char c)
    {
        if (m_at < m_end) *m_at = c;
        ++m_at;  // counts on, so a cut line still reports where it would have ended
    }
    void Fill(char c, int n)
    {
        for (int i = 0; i < n; ++i) Put(c);
    }
    void Text(const char* s, int n)
    {
        for (int i = 0; i < n; ++i) Put(s[i]);
    }
    int Finish()
    {
        const int written = m_at < m_end ? static_cast<int>(m_at - m_out) : static_cast<int>(m_end - m_out);
        m_out[written] = '\0';
        return written;
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

// Digits of an unsigned value in base 10 or 16, with the sign of %d and its padding.
void Number(Writer& w, const Conversion& conversion, unsigned long long magnitude, bool negative, unsigned base)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = HEX_DIGITS[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    const char sign = negative ? '-' : (conversion.blank ? ' ' : '\0');
    const int length = n + (sign ? 1 : 0);
    const int pad = conversion.width > length ? conversion.width - length : 0;
    if (!conversion.left && !conversion.zero) w.Fill(' ', pad);
    if (sign) w.Put(sign);
    if (!conversion.left && conversion.zero) w.Fill('0', pad);
    while (n > 0) w.Put(digits[--n]);
    if (conversion.left) w.Fill(' ', pad);
}

}  // namespace

int FormatLineV(char* out, int capacity, const char* format, va_list args)
{
    Writer w(out, capacity);
    for (const char* f = format; *f; ++f) {
        if (*f != '%') {
            w.Put(*f);
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
            Number(w, conversion, negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v),
                   negative, 10);
            break;
        }
        case 'u':
        case 'x': {
            const unsigned long long v = longs == 2   ? va_arg(args, unsigned long long)
                                         : longs == 1 ? va_arg(args, unsigned long)
                                                      : va_arg(args, unsigned);
            Number(w, conversion, v, false, *f == 'x' ? 16 : 10);
            break;
        }
        case 's': {
            const char* s = va_arg(args, const char*);
            int n = static_cast<int>(conversion.precision >= 0 ? strnlen(s, static_cast<size_t>(conversion.precision)) : std::strlen(s));
            const int pad = conversion.width > n ? conversion.width - n : 0;
            if (!conversion.left) w.Fill(' ', pad);
            w.Text(s, n);
            if (conversion.left) w.Fill(' ', pad);
            break;
        }
        case 'f': {
            // The whole conversion, flags and all, goes to the library.
            char piece[64], text[16];
            const size_t textLength = static_cast<size_t>(f - start + 1);
            if (textLength >= sizeof text) return w.Finish();
            std::memcpy(text, start, textLength);
            text[textLength] = '\0';
            const int n = std::snprintf(piece, sizeof piece, text, va_arg(args, double));
            w.Text(piece, n < 0 ? 0 : (n < static_cast<int>(sizeof piece) ? n : static_cast<int>(sizeof piece) - 1));
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

}  // namespace kestrine
