// The filter language's lexer and parser. Words are scanned as tcpdump scans them (letters,
// digits, '.', '-' and '_', not ending in '-' or '_'), so "tcp-syn" and "1000-2000" are one
// word. The grammar:
//   expression := term { ("and" | "&&" | "or" | "||") term }        both bind equally, left to right
//   term       := ("not" | "!") term | "(" expression ")" | relation | primitive
//   relation   := arithmetic ("=" | "==" | "!=" | "<" | "<=" | ">" | ">=") arithmetic
//   primitive  := [protocol] [direction] [type] value | protocol ["proto" p | "broadcast" |
//                 "multicast"] | "proto" p | "less" n | "greater" n | value
// A bare value takes the qualifiers of the primitive before it. Where a "(" or a number
// could begin either a relation or something else, the relation is tried first.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "filter/filter_tree.h"

namespace kestrine::filter_tree {

namespace {

// ---------------------------------------------------------------- words and tokens

struct Token {
    enum Kind : uint8_t { Word, Symbol, End } kind = End;
    std::string_view text;
    int column = 0;
    bool escaped = false;  // "\name": a name, never a keyword
};

bool IsWordChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}
bool IsWordStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Splits text into tokens; false with error on a character that begins none.
bool Scan(std::string_view text, std::vector<Token>& tokens, FilterError& error)
{
    static constexpr std::array<std::string_view, 8> PAIRS = {"==", "!=", "<=", ">=", "<<", ">>", "&&", "||"};
    static constexpr std::string_view SINGLES = "()[]:+-*/%&|^=<>!";
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (IsSpace(c)) {
            ++i;
            continue;
        }
        Token t;
        t.column = static_cast<int>(i) + 1;
        if (c == '\\' && i + 1 < text.size() && IsWordStart(text[i + 1])) {
            size_t end = i + 1;
            while (end < text.size() && IsWordChar(text[end])) ++end;
            t.kind = Token::Word;
            t.escaped = true;
            t.text = text.substr(i + 1, end - i - 1);
            i = end;
        } else if (IsWordStart(c)) {
            size_t end = i;
            while (end < text.size() && IsWordChar(text[end])) ++end;
            while (text[end - 1] == '-' || text[end - 1] == '_') --end;
            t.kind = Token::Word;
            t.text = text.substr(i, end - i);
            i = end;
        } else {
            const std::string_view two = text.substr(i, 2);
            if (std::find(PAIRS.begin(), PAIRS.end(), two) != PAIRS.end()) {
                t.text = two;
            } else if (SINGLES.find(c) != std::string_view::npos) {
                t.text = text.substr(i, 1);
            } else {
                error.column = t.column;
                error.message = (c >= 0x21 && c < 0x7f) ? std::string("unexpected character '") + c + "'"
                                                        : "unexpected character";
                return false;
            }
            t.kind = Token::Symbol;
            i += t.text.size();
        }
        tokens.push_back(t);
    }
    Token end;
    end.column = static_cast<int>(text.size()) + 1;
    tokens.push_back(end);
    return true;
}

// ---------------------------------------------------------------- keywords

enum class Word : uint8_t {
    None,       // not a keyword: a value
    Protocol,   // value: IP protocol number, or IP_LAYER for "ip"
    Src, Dst,
    Host, Net, Port, Portrange, Proto,
    And, Or, Not,
    Less, Greater, Len,
    Broadcast, Multicast, Mask,
    Constant,   // value: the constant
    Refused,    // a keyword of what IPv4 datagrams do not have
};

constexpr uint32_t IP_LAYER = 0x100;

struct Keyword {
    std::string_view name;
    Word word;
    uint32_t value;
};

constexpr Keyword KEYWORDS[] = {
    {"ip", Word::Protocol, IP_LAYER}, {"icmp", Word::Protocol, 1}, {"igmp", Word::Protocol, 2},
    {"igrp", Word::Protocol, 9}, {"tcp", Word::Protocol, 6}, {"udp", Word::Protocol, 17},
    {"esp", Word::Protocol, 50}, {"ah", Word::Protocol, 51}, {"pim", Word::Protocol, 103},
    {"vrrp", Word::Protocol, 112}, {"carp", Word::Protocol, 112}, {"sctp", Word::Protocol, 132},
    {"src", Word::Src, 0}, {"dst", Word::Dst, 0},
    {"host", Word::Host, 0}, {"net", Word::Net, 0}, {"port", Word::Port, 0}, {"portrange", Word::Portrange, 0},
    {"proto", Word::Proto, 0},
    {"and", Word::And, 0}, {"or", Word::Or, 0}, {"not", Word::Not, 0},
    {"less", Word::Less, 0}, {"greater", Word::Greater, 0}, {"len", Word::Len, 0},
    {"broadcast", Word::Broadcast, 0}, {"multicast", Word::Multicast, 0}, {"mask", Word::Mask, 0},
    {"icmptype", Word::Constant, 0}, {"icmpcode", Word::Constant, 1},
    {"icmp-echoreply", Word::Constant, 0}, {"icmp-unreach", Word::Constant, 3},
    {"icmp-sourcequench", Word::Constant, 4}, {"icmp-redirect", Word::Constant, 5},
    {"icmp-echo", Word::Constant, 8}, {"icmp-routeradvert", Word::Constant, 9},
    {"icmp-routersolicit", Word::Constant, 10}, {"icmp-timxceed", Word::Constant, 11},
    {"icmp-paramprob", Word::Constant, 12}, {"icmp-tstamp", Word::Constant, 13},
    {"icmp-tstampreply", Word::Constant, 14}, {"icmp-ireq", Word::Constant, 15},
    {"icmp-ireqreply", Word::Constant, 16}, {"icmp-maskreq", Word::Constant, 17},
    {"icmp-maskreply", Word::Constant, 18},
    {"tcpflags", Word::Constant, 13}, {"tcp-fin", Word::Constant, 0x01}, {"tcp-syn", Word::Constant, 0x02},
    {"tcp-rst", Word::Constant, 0x04}, {"tcp-push", Word::Constant, 0x08}, {"tcp-ack", Word::Constant, 0x10},
    {"tcp-urg", Word::Constant, 0x20}, {"tcp-ece", Word::Constant, 0x40}, {"tcp-cwr", Word::Constant, 0x80},
    // Link layers, other network layers and capture metadata: never in an IPv4 datagram.
    {"ether", Word::Refused, 0}, {"fddi", Word::Refused, 0}, {"tr", Word::Refused, 0},
    {"wlan", Word::Refused, 0}, {"ppp", Word::Refused, 0}, {"slip", Word::Refused, 0},
    {"link", Word::Refused, 0}, {"ip6", Word::Refused, 0}, {"icmp6", Word::Refused, 0},
    {"arp", Word::Refused, 0}, {"rarp", Word::Refused, 0}, {"vlan", Word::Refused, 0},
    {"mpls", Word::Refused, 0}, {"pppoed", Word::Refused, 0}, {"pppoes", Word::Refused, 0},
    {"geneve", Word::Refused, 0}, {"vxlan", Word::Refused, 0}, {"atalk", Word::Refused, 0},
    {"aarp", Word::Refused, 0}, {"decnet", Word::Refused, 0}, {"lat", Word::Refused, 0},
    {"sca", Word::Refused, 0}, {"moprc", Word::Refused, 0}, {"mopdl", Word::Refused, 0},
    {"iso", Word::Refused, 0}, {"esis", Word::Refused, 0}, {"es-is", Word::Refused, 0},
    {"isis", Word::Refused, 0}, {"is-is", Word::Refused, 0}, {"clnp", Word::Refused, 0},
    {"stp", Word::Refused, 0}, {"ipx", Word::Refused, 0}, {"netbeui", Word::Refused, 0},
    {"llc", Word::Refused, 0}, {"radio", Word::Refused, 0}, {"gateway", Word::Refused, 0},
    {"protochain", Word::Refused, 0}, {"inbound", Word::Refused, 0}, {"outbound", Word::Refused, 0},
    {"ifname", Word::Refused, 0}, {"on", Word::Refused, 0}, {"rnr", Word::Refused, 0},
    {"rulenum", Word::Refused, 0}, {"srnr", Word::Refused, 0}, {"subrulenum", Word::Refused, 0},
    {"reason", Word::Refused, 0}, {"rset", Word::Refused, 0}, {"ruleset", Word::Refused, 0},
    {"action", Word::Refused, 0}, {"type", Word::Refused, 0}, {"subtype", Word::Refused, 0},
    {"dir", Word::Refused, 0}, {"ra", Word::Refused, 0}, {"ta", Word::Refused, 0},
    {"addr1", Word::Refused, 0}, {"addr2", Word::Refused, 0}, {"addr3", Word::Refused, 0},
    {"addr4", Word::Refused, 0}, {"ipv6", Word::Refused, 0},
};

const Keyword* FindKeyword(const Token& t)
{
    if (t.kind != Token::Word || t.escaped) return nullptr;
    for (const Keyword& k : KEYWORDS)
        if (k.name == t.text) return &k;
    return nullptr;
}

// Service names a port may be given by, with the transports they are named for (as the
// system's services file has them): "port http" is TCP's port 80 only.
constexpr uint8_t TCP_NAME = 1, UDP_NAME = 2, BOTH = TCP_NAME | UDP_NAME;
struct Service {
    std::string_view name;
    uint32_t number;
    uint8_t transports;
};
constexpr Service SERVICES[] = {
    {"echo", 7, BOTH}, {"discard", 9, BOTH}, {"daytime", 13, BOTH}, {"ftp-data", 20, TCP_NAME},
    {"ftp", 21, TCP_NAME}, {"ssh", 22, TCP_NAME}, {"telnet", 23, TCP_NAME}, {"smtp", 25, TCP_NAME},
    {"time", 37, BOTH}, {"whois", 43, TCP_NAME}, {"domain", 53, BOTH}, {"bootps", 67, UDP_NAME},
    {"bootpc", 68, UDP_NAME}, {"tftp", 69, UDP_NAME}, {"gopher", 70, TCP_NAME}, {"finger", 79, TCP_NAME},
    {"http", 80, TCP_NAME}, {"www", 80, TCP_NAME}, {"kerberos", 88, BOTH}, {"pop3", 110, TCP_NAME},
    {"sunrpc", 111, BOTH}, {"auth", 113, TCP_NAME}, {"nntp", 119, TCP_NAME}, {"ntp", 123, UDP_NAME},
    {"epmap", 135, TCP_NAME}, {"netbios-ns", 137, UDP_NAME}, {"netbios-dgm", 138, UDP_NAME},
    {"netbios-ssn", 139, TCP_NAME}, {"imap", 143, TCP_NAME}, {"imap2", 143, TCP_NAME}, {"snmp", 161, BOTH},
    {"snmp-trap", 162, BOTH}, {"bgp", 179, TCP_NAME}, {"ldap", 389, BOTH}, {"https", 443, BOTH},
    {"microsoft-ds", 445, TCP_NAME}, {"isakmp", 500, UDP_NAME}, {"syslog", 514, UDP_NAME},
    {"route", 520, UDP_NAME}, {"submission", 587, TCP_NAME}, {"ldaps", 636, BOTH}, {"imaps", 993, TCP_NAME},
    {"pop3s", 995, TCP_NAME}, {"openvpn", 1194, BOTH}, {"radius", 1812, BOTH}, {"radius-acct", 1813, BOTH},
    {"nfs", 2049, BOTH}, {"mysql", 3306, TCP_NAME}, {"sip", 5060, BOTH}, {"postgresql", 5432, TCP_NAME},
    {"x11", 6000, TCP_NAME},
};

const Service* FindService(std::string_view name)
{
    for (const Service& s : SERVICES)
        if (s.name == name) return &s;
    return nullptr;
}

struct NamedNumber {
    std::string_view name;
    uint32_t number;
};
// Protocol names after "proto" (escaped or not).
constexpr NamedNumber PROTOCOLS[] = {
    {"icmp", 1}, {"igmp", 2}, {"ggp", 3}, {"ipencap", 4}, {"st", 5}, {"tcp", 6}, {"egp", 8},
    {"igp", 9}, {"igrp", 9}, {"pup", 12}, {"udp", 17}, {"hmp", 20}, {"xns-idp", 22}, {"rdp", 27},
    {"iso-tp4", 29}, {"dccp", 33}, {"xtp", 36}, {"ddp", 37}, {"idpr-cmtp", 38}, {"rsvp", 46},
    {"gre", 47}, {"esp", 50}, {"ah", 51}, {"skip", 57}, {"rspf", 73}, {"vmtp", 81}, {"eigrp", 88},
    {"ospf", 89}, {"ax.25", 93}, {"ipip", 94}, {"etherip", 97}, {"encap", 98}, {"pim", 103},
    {"ipcomp", 108}, {"vrrp", 112}, {"l2tp", 115}, {"isis", 124}, {"sctp", 132}, {"fc", 133},
    {"udplite", 136}, {"mpls-in-ip", 137}, {"manet", 138}, {"hip", 139}, {"shim6", 140},
    {"wesp", 141}, {"rohc", 142},
};

template <size_t N>
const NamedNumber* FindName(const NamedNumber (&table)[N], std::string_view name)
{
    for (const NamedNumber& n : table)
        if (n.name == name) return &n;
    return nullptr;
}

// A number as tcpdump reads one: decimal, 0x hexadecimal or 0 octal. false if the word is
// not one; overflow sets it.
bool ReadNumber(std::string_view text, uint32_t& value, bool& overflow)
{
    overflow = false;
    if (text.empty()) return false;
    unsigned base = 10;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        i = 1;
    }
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return false;
        if (digit >= base) return false;
        v = v * base + digit;
        if (v > 0xffffffffu) overflow = true;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

// A dotted address of 2 to 4 parts, each 0..255: the parts as one number (the last part
// lowest) and the count of parts. A word of one part is a number, not read here.
bool ReadDotted(std::string_view text, uint32_t& value, int& parts)
{
    if (text.find('.') == std::string_view::npos) return false;
    value = 0;
    parts = 0;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (part.empty() || part.size() > 3 || ++parts > 4) return false;
        uint32_t v = 0;
        for (const char c : part) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + static_cast<uint32_t>(c - '0');
        }
        if (v > 255) return false;
        value = value << 8 | v;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return true;
}

// ---------------------------------------------------------------- the parser

enum class Direction : uint8_t { Either, Src, Dst, Both };
enum class Type : uint8_t { Default, Host, Net, Port, Portrange };

// What a bare value after a primitive is taken as.
struct Qualifiers {
    bool usable = true;  // false after a primitive that has none (tcp, less, a relation)
    uint32_t protocol = 0;  // 0 none, IP_LAYER, or an IP protocol number
    int protocolColumn = 0;
    Direction direction = Direction::Either;
    Type type = Type::Default;
};

// A test that a load's datagram has the header the load reads: IPv4, the protocol, and
// for transport fields the first fragment.
struct Guard {
    enum Kind : uint8_t { Ipv4, Protocol, FirstFragment } kind;
    uint32_t protocol = 0;
    bool operator==(const Guard&) const = default;
};

constexpr int MAX_NESTING = 200;

class Parser {
public:
    Parser(std::vector<Token>& tokens, Tree& tree) : m_tokens(tokens), m_tree(tree) {}

    bool ParseAll(FilterError& error)
    {
        Qualifiers q;
        q.usable = false;  // a bare value first has no qualifiers to take
        int root;
        if (ParseExpression(q, root) && !AtEnd()) Fail(Peek(), "expected 'and', 'or' or the end");
        else if (!m_failed) m_tree.root = root;
        if (m_failed) error = m_error;
        return !m_failed;
    }

private:
    std::vector<Token>& m_tokens;
    Tree& m_tree;
    size_t m_at = 0;
    int m_depth = 0;
    bool m_failed = false;
    bool m_final = false;  // a mistake of meaning: no other reading is tried
    FilterError m_error;

    // -------------------------------------------------- helpers

    const Token& Peek(size_t ahead = 0) const { return m_tokens[std::min(m_at + ahead, m_tokens.size() - 1)]; }
    const Token& Next() { return m_tokens[m_at < m_tokens.size() - 1 ? m_at++ : m_at]; }
    bool AtEnd() const { return Peek().kind == Token::End; }
    bool IsSymbol(const Token& t, std::string_view s) const { return t.kind == Token::Symbol && t.text == s; }
    bool IsWord(const Token& t, Word w) const
    {
        const Keyword* k = FindKeyword(t);
        return k && k->word == w;
    }
    Word WordOf(const Token& t) const
    {
        const Keyword* k = FindKeyword(t);
        return k ? k->word : Word::None;
    }

    static std::string Quoted(const Token& t)
    {
        if (t.kind == Token::End) return "the end";
        return "'" + std::string(t.text) + "'";
    }

    // Records a mistake of form, keeping the one furthest along (a reading tried later may
    // fail sooner), and returns false.
    bool Fail(const Token& at, const std::string& message)
    {
        if (!m_final && (m_error.message.empty() || at.column >= m_error.column)) {
            m_error.column = at.column;
            m_error.message = message + (at.kind == Token::End ? ", found the end" : ", found " + Quoted(at));
        }
        m_failed = true;
        return false;
    }
    // A mistake of meaning: final.
    bool Refuse(const Token& at, const std::string& message)
    {
        if (!m_final) {
            m_error.column = at.column;
            m_error.message = message;
        }
        m_failed = m_final = true;
        return false;
    }

    struct Mark {
        size_t at;
        bool failed;
        FilterError error;
        size_t values, conditions;
    };
    Mark Save() const { return {m_at, m_failed, m_error, m_tree.values.size(), m_tree.conditions.size()}; }
    // A reading succeeded: the mistake of the one abandoned before it is kept only to be
    // reported if nothing later gets further.
    void Forget(const Mark& m) { m_failed = m.failed; }
    void Restore(const Mark& m, bool keepError)
    {
        m_at = m.at;
        m_tree.values.resize(m.values);
        m_tree.conditions.resize(m.conditions);
        if (!keepError) {
            m_failed = m.failed;
            m_error = m.error;
        }
    }

    // -------------------------------------------------- tree building

    int AddValue(const Value& v)
    {
        m_tree.values.push_back(v);
        return static_cast<int>(m_tree.values.size()) - 1;
    }
    int Constant(uint32_t k) { return AddValue({Value::Constant, k, 0, false, 0, -1, -1}); }
    int LoadAt(uint16_t size, uint32_t offset, bool transport)
    {
        const int at = Constant(offset);
        return AddValue({Value::Load, 0, size, transport, 0, at, -1});
    }
    int AddCondition(const Condition& c)
    {
        m_tree.conditions.push_back(c);
        return static_cast<int>(m_tree.conditions.size()) - 1;
    }
    int Compare(int value, uint32_t mask, uint32_t k, uint16_t jump)
    {
        Condition c;
        c.kind = Condition::Compare;
        c.value = value;
        c.mask = mask;
        c.operand = Constant(k);
        c.jump = jump;
        return AddCondition(c);
    }
    int Combine(Condition::Kind kind, int first, int second)
    {
        Condition c;
        c.kind = kind;
        c.first = first;
        c.second = second;
        return AddCondition(c);
    }
    int And(int a, int b) { return Combine(Condition::And, a, b); }
    int Or(int a, int b) { return Combine(Condition::Or, a, b); }
    int Not(int a) { return Combine(Condition::Not, a, -1); }

    int Ipv4() { return Compare(LoadAt(bpf::B, 0, false), 0xf0, 0x40, bpf::JEQ); }
    int ProtocolIs(uint32_t protocol) { return Compare(LoadAt(bpf::B, 9, false), 0xffffffff, protocol, bpf::JEQ); }
    int FirstFragment() { return Not(Compare(LoadAt(bpf::H, 6, false), 0xffffffff, 0x1fff, bpf::JSET)); }
    int GuardCondition(const Guard& g)
    {
        switch (g.kind) {
        case Guard::Ipv4: return Ipv4();
        case Guard::Protocol: return And(Ipv4(), ProtocolIs(g.protocol));
        default: return FirstFragment();
        }
    }

    // The direction's address or port tests, made by field(offset of the source's field).
    template <typename Field>
    int ByDirection(Direction d, uint32_t sourceOffset, uint32_t destinationOffset, Field field)
    {
        switch (d) {
        case Direction::Src: return field(sourceOffset);
        case Direction::Dst: return field(destinationOffset);
        case Direction::Both: {
            const int s = field(sourceOffset);
            return And(s, field(destinationOffset));
        }
        default: {
            const int s = field(sourceOffset);
            return Or(s, field(destinationOffset));
        }
        }
    }

    int AddressTest(Direction d, uint32_t address, uint32_t mask)
    {
        const int v4 = Ipv4();
        return And(v4, ByDirection(d, 12, 16, [&](uint32_t offset) {
                       return Compare(LoadAt(bpf::W, offset, false), mask, address & mask, bpf::JEQ);
                   }));
    }

    // Ports low..high of TCP, UDP and SCTP (or of the one protocol given), first fragments only.
    int PortTest(Direction d, uint32_t protocol, uint32_t low, uint32_t high)
    {
        const auto one = [&](uint32_t p) {
            const int proto = ProtocolIs(p);
            const int first = FirstFragment();
            const int ports = ByDirection(d, 0, 2, [&](uint32_t offset) {
                if (low == high) return Compare(LoadAt(bpf::H, offset, true), 0xffffffff, low, bpf::JEQ);
                const int atLeast = Compare(LoadAt(bpf::H, offset, true), 0xffffffff, low, bpf::JGE);
                return And(atLeast, Not(Compare(LoadAt(bpf::H, offset, true), 0xffffffff, high, bpf::JGT)));
            });
            return And(proto, And(first, ports));
        };
        const int v4 = Ipv4();
        int any;
        if (protocol != 0) {
            any = one(protocol);
        } else {
            const int tcp = one(6);
            any = Or(tcp, one(17));
            any = Or(any, one(132));
        }
        return And(v4, any);
    }

    // -------------------------------------------------- expressions

    bool Enter(const Token& at)
    {
        if (++m_depth > MAX_NESTING) return Refuse(at, "the expression is nested too deeply");
        return true;
    }

    bool ParseExpression(Qualifiers& q, int& result)
    {
        if (!ParseTerm(q, result)) return false;
        while (true) {
            const Token& t = Peek();
            bool isAnd = IsSymbol(t, "&&") || IsWord(t, Word::And);
            bool isOr = IsSymbol(t, "||") || IsWord(t, Word::Or);
            if (!isAnd && !isOr) return true;
            Next();
            int right;
            if (!ParseTerm(q, right)) return false;
            result = isAnd ? And(result, right) : Or(result, right);
        }
    }

    bool ParseTerm(Qualifiers& q, int& result)
    {
        const Token& t = Peek();
        if (!Enter(t)) return false;
        const bool ok = ParseTermInner(q, result);
        --m_depth;
        return ok;
    }

    bool ParseTermInner(Qualifiers& q, int& result)
    {
        const Token& t = Peek();
        if (IsSymbol(t, "!") || IsWord(t, Word::Not)) {
            Next();
            int inner;
            if (!ParseTerm(q, inner)) return false;
            result = Not(inner);
            return true;
        }
        if (StartsRelation()) {
            const Mark mark = Save();
            if (ParseRelation(result)) {
                Forget(mark);
                q.usable = false;
                return true;
            }
            if (m_final) return false;
            Restore(mark, true);  // the relation's mistake stays if it is the furthest
            if (!ParseOther(q, result)) return false;
            Forget(mark);
            return true;
        }
        return ParseOther(q, result);
    }

    // A group or a primitive.
    bool ParseOther(Qualifiers& q, int& result)
    {
        const Token& t = Peek();
        if (IsSymbol(t, "(")) {
            Next();
            Qualifiers inside = q;  // a group passes on the qualifiers from before it
            if (!ParseExpression(inside, result)) return false;
            if (!IsSymbol(Peek(), ")")) return Fail(Peek(), "expected ')'");
            Next();
            return true;
        }
        return ParsePrimitive(q, result);
    }

    // Whether the next token may begin an arithmetic value.
    bool StartsRelation() const
    {
        const Token& t = Peek();
        if (IsSymbol(t, "(") || IsSymbol(t, "-")) return true;
        if (t.kind != Token::Word) return false;
        const Keyword* k = FindKeyword(t);
        if (!k) return !t.escaped && t.text[0] >= '0' && t.text[0] <= '9';
        if (k->word == Word::Len || k->word == Word::Constant) return true;
        return k->word == Word::Protocol && IsSymbol(Peek(1), "[");
    }

    // -------------------------------------------------- relations

    bool ParseRelation(int& result)
    {
        std::vector<Guard> guards;
        int left, right;
        if (!ParseArithmetic(0, guards, left)) return false;
        const Token& op = Peek();
        struct Relation {
            std::string_view text;
            uint16_t jump;
            bool negate;
        };
        static constexpr Relation RELATIONS[] = {{"=", bpf::JEQ, false},  {"==", bpf::JEQ, false},
                                                 {"!=", bpf::JEQ, true},  {">", bpf::JGT, false},
                                                 {">=", bpf::JGE, false}, {"<", bpf::JGE, true},
                                                 {"<=", bpf::JGT, true}};
        const Relation* relation = nullptr;
        for (const Relation& r : RELATIONS)
            if (IsSymbol(op, r.text)) relation = &r;
        if (!relation) return Fail(op, "expected a comparison (=, !=, <, <=, >, >=)");
        Next();
        if (!ParseArithmetic(0, guards, right)) return false;
        Condition c;
        c.kind = Condition::Compare;
        c.value = left;
        c.operand = right;
        c.jump = relation->jump;
        int compare = AddCondition(c);
        if (relation->negate) compare = Not(compare);
        // The loads' headers are tested first, each once, in the order the loads name them.
        std::vector<Guard> distinct;
        for (const Guard& g : guards)
            if (std::find(distinct.begin(), distinct.end(), g) == distinct.end()) distinct.push_back(g);
        if (distinct.empty()) {
            result = compare;
            return true;
        }
        result = GuardCondition(distinct[0]);
        for (size_t i = 1; i < distinct.size(); ++i) result = And(result, GuardCondition(distinct[i]));
        result = And(result, compare);
        return true;
    }

    // Binary operators by level, loosest first.
    struct Operator {
        std::string_view text;
        uint16_t op;
        int level;
    };
    static constexpr Operator OPERATORS[] = {
        {"|", bpf::OR, 0},   {"^", bpf::XOR, 1},  {"&", bpf::AND, 2},  {"<<", bpf::LSH, 3},
        {">>", bpf::RSH, 3}, {"+", bpf::ADD, 4},  {"-", bpf::SUB, 4},  {"*", bpf::MUL, 5},
        {"/", bpf::DIV, 5},  {"%", bpf::MOD, 5},
    };
    static constexpr int UNARY_LEVEL = 6;

    const Operator* BinaryOperator(const Token& t) const
    {
        for (const Operator& o : OPERATORS)
            if (IsSymbol(t, o.text)) return &o;
        return nullptr;
    }

    bool ParseArithmetic(int level, std::vector<Guard>& guards, int& result)
    {
        if (!Enter(Peek())) return false;
        bool ok = ParseArithmeticInner(level, guards, result);
        --m_depth;
        return ok;
    }

    bool ParseArithmeticInner(int level, std::vector<Guard>& guards, int& result)
    {
        if (level == UNARY_LEVEL) return ParseUnary(guards, result);
        if (!ParseArithmetic(level + 1, guards, result)) return false;
        while (const Operator* o = BinaryOperator(Peek())) {
            if (o->level != level) break;
            const Token& at = Next();
            int right;
            if (!ParseArithmetic(level + 1, guards, right)) return false;
            const Value& r = m_tree.values[static_cast<size_t>(right)];
            if ((o->op == bpf::DIV || o->op == bpf::MOD) && r.kind == Value::Constant && r.constant == 0)
                return Refuse(at, "division by zero");
            if ((o->op == bpf::LSH || o->op == bpf::RSH) && r.kind == Value::Constant && r.constant > 31)
                return Refuse(at, "a shift by more than 31 bits");
            result = AddValue({Value::Binary, 0, 0, false, o->op, result, right});
        }
        return true;
    }

    bool ParseUnary(std::vector<Guard>& guards, int& result)
    {
        const Token& t = Peek();
        if (IsSymbol(t, "-")) {
            Next();
            int inner;
            if (!ParseArithmetic(UNARY_LEVEL, guards, inner)) return false;
            result = AddValue({Value::Negate, 0, 0, false, 0, inner, -1});
            return true;
        }
        if (IsSymbol(t, "(")) {
            Next();
            if (!ParseArithmetic(0, guards, result)) return false;
            if (!IsSymbol(Peek(), ")")) return Fail(Peek(), "expected ')'");
            Next();
            return true;
        }
        const Keyword* k = FindKeyword(t);
        if (k && k->word == Word::Len) {
            Next();
            result = AddValue({Value::Length, 0, 0, false, 0, -1, -1});
            return true;
        }
        if (k && k->word == Word::Constant) {
            Next();
            result = Constant(k->value);
            return true;
        }
        if (k && k->word == Word::Protocol && IsSymbol(Peek(1), "[")) return ParseLoad(k->value, guards, result);
        uint32_t value;
        if (!ReadNumberToken(t, value)) return m_final ? false : Fail(t, "expected a number or a packet field");
        Next();
        result = Constant(value);
        return true;
    }

    // A number word; false when the token is none, or (recorded) when it is too large.
    bool ReadNumberToken(const Token& t, uint32_t& value)
    {
        if (t.kind != Token::Word || t.escaped) return false;
        bool overflow;
        if (!ReadNumber(t.text, value, overflow)) return false;
        if (overflow) return Refuse(t, "the number " + std::string(t.text) + " does not fit in 32 bits");
        return true;
    }

    // protocol "[" offset [":" size] "]"
    bool ParseLoad(uint32_t protocol, std::vector<Guard>& guards, int& result)
    {
        const Token& name = Next();
        Next();  // "["
        int offset;
        if (!ParseArithmetic(0, guards, offset)) return false;
        uint16_t size = bpf::B;
        if (IsSymbol(Peek(), ":")) {
            Next();
            const Token& s = Peek();
            uint32_t n;
            if (!ReadNumberToken(s, n)) return m_final ? false : Fail(s, "expected the field's size 1, 2 or 4");
            if (n != 1 && n != 2 && n != 4) return Refuse(s, "a field's size is 1, 2 or 4");
            Next();
            size = n == 1 ? bpf::B : n == 2 ? bpf::H : bpf::W;
        }
        if (!IsSymbol(Peek(), "]")) return Fail(Peek(), "expected ']'");
        Next();
        const bool transport = protocol != IP_LAYER;
        if (transport) {
            if (protocol == 50 || protocol == 51)
                return Refuse(name, "'" + std::string(name.text) + "' has no fields to read here");
            guards.push_back({Guard::Protocol, protocol});
            guards.push_back({Guard::FirstFragment, 0});
        }
        guards.push_back({Guard::Ipv4, 0});
        result = AddValue({Value::Load, 0, size, transport, 0, offset, -1});
        return true;
    }

    // -------------------------------------------------- primitives

    bool ParsePrimitive(Qualifiers& q, int& result)
    {
        const Token& t = Peek();
        const Keyword* k = FindKeyword(t);
        const Word w = k ? k->word : Word::None;
        switch (w) {
        case Word::Refused:
            return Refuse(t, "'" + std::string(t.text) + "' does not apply to IPv4 datagrams");
        case Word::Less:
        case Word::Greater: {
            Next();
            const Token& n = Peek();
            uint32_t value;
            if (!ReadNumberToken(n, value)) return m_final ? false : Fail(n, "expected a length");
            Next();
            const int length = AddValue({Value::Length, 0, 0, false, 0, -1, -1});
            result = w == Word::Less ? Not(Compare(length, 0xffffffff, value, bpf::JGT))
                                     : Compare(length, 0xffffffff, value, bpf::JGE);
            q.usable = false;
            return true;
        }
        case Word::Broadcast:
        case Word::Multicast:
            return Refuse(t, "write 'ip " + std::string(t.text) + "': a link-layer " + std::string(t.text) +
                                 " does not apply to IPv4 datagrams");
        case Word::Proto: return ParseProtoNumber(t, result, q);
        case Word::Protocol: {
            const Token& next = Peek(1);
            const Word nw = WordOf(next);
            if (nw == Word::Proto) {
                if (k->value != IP_LAYER) return Refuse(next, "'proto' goes with 'ip' only here");
                Next();
                return ParseProtoNumber(next, result, q);
            }
            if (nw == Word::Broadcast || nw == Word::Multicast) {
                if (k->value != IP_LAYER) return Refuse(next, "'" + std::string(next.text) + "' goes with 'ip' only");
                Next();
                Next();
                result = nw == Word::Multicast ? IpMulticast() : IpBroadcast();
                q.usable = false;
                return true;
            }
            if (nw == Word::Src || nw == Word::Dst || nw == Word::Host || nw == Word::Net || nw == Word::Port ||
                nw == Word::Portrange)
                return ParseQualified(q, result);
            Next();
            result = k->value == IP_LAYER ? Ipv4() : And(Ipv4(), ProtocolIs(k->value));
            q.usable = false;
            return true;
        }
        case Word::Src:
        case Word::Dst:
        case Word::Host:
        case Word::Net:
        case Word::Port:
        case Word::Portrange: return ParseQualified(q, result);
        case Word::None:
            if (t.kind == Token::Word) {
                if (!q.usable) return Refuse(t, "'" + std::string(t.text) + "' follows no qualifier (host, net, port, ...)");
                return ParseValue(q, result);
            }
            return Fail(t, "expected a primitive");
        default: return Fail(t, "expected a primitive");
        }
    }

    // "proto" followed by a number or a protocol's name; "ip proto" is the same here.
    bool ParseProtoNumber(const Token& proto, int& result, Qualifiers& q)
    {
        (void)proto;
        Next();
        const Token& n = Peek();
        uint32_t value;
        if (n.kind != Token::Word) return Fail(n, "expected a protocol number or name");
        if (ReadNumberToken(n, value)) {
            if (value > 255) return Refuse(n, "a protocol number is 0 to 255");
        } else if (m_final) {
            return false;
        } else if (const NamedNumber* p = FindName(PROTOCOLS, n.text)) {
            value = p->number;
        } else {
            return Refuse(n, "unknown protocol '" + std::string(n.text) + "'");
        }
        Next();
        result = And(Ipv4(), ProtocolIs(value));
        q.usable = false;
        return true;
    }

    int IpMulticast() { return And(Ipv4(), Compare(LoadAt(bpf::B, 16, false), 0xffffffff, 224, bpf::JGE)); }
    // Without a netmask (as tcpdump reading a file), the all-ones and all-zeros addresses.
    int IpBroadcast()
    {
        const int ones = Compare(LoadAt(bpf::W, 16, false), 0xffffffff, 0xffffffff, bpf::JEQ);
        return And(Ipv4(), Or(ones, Compare(LoadAt(bpf::W, 16, false), 0xffffffff, 0, bpf::JEQ)));
    }

    // [protocol] [direction] [type] value
    bool ParseQualified(Qualifiers& q, int& result)
    {
        Qualifiers n;
        const Keyword* k = FindKeyword(Peek());
        if (k->word == Word::Protocol) {
            n.protocol = k->value;
            n.protocolColumn = Peek().column;
            Next();
        }
        const Word d = WordOf(Peek());
        if (d == Word::Src || d == Word::Dst) {
            Next();
            n.direction = d == Word::Src ? Direction::Src : Direction::Dst;
            const Word joiner = WordOf(Peek());
            const Word other = WordOf(Peek(1));
            if ((joiner == Word::Or || joiner == Word::And || IsSymbol(Peek(), "||") || IsSymbol(Peek(), "&&")) &&
                (other == (d == Word::Src ? Word::Dst : Word::Src))) {
                n.direction = (joiner == Word::And || IsSymbol(Peek(), "&&")) ? Direction::Both : Direction::Either;
                Next();
                Next();
            }
        }
        switch (WordOf(Peek())) {
        case Word::Host: n.type = Type::Host; Next(); break;
        case Word::Net: n.type = Type::Net; Next(); break;
        case Word::Port: n.type = Type::Port; Next(); break;
        case Word::Portrange: n.type = Type::Portrange; Next(); break;
        default: break;
        }
        q = n;
        return ParseValue(q, result);
    }

    // The value a primitive's qualifiers apply to.
    bool ParseValue(const Qualifiers& q, int& result)
    {
        const Token& v = Peek();
        if (v.kind != Token::Word || (FindKeyword(v) && !v.escaped))
            return Fail(v, q.type == Type::Port || q.type == Type::Portrange ? "expected a port"
                                                                              : "expected an address");
        Next();
        const Type type = q.type == Type::Default ? Type::Host : q.type;
        if (type == Type::Port || type == Type::Portrange) {
            if (q.protocol != 0 && q.protocol != 6 && q.protocol != 17 && q.protocol != 132)
                return Refuse(v, "'port' goes with tcp, udp or sctp only");
            uint32_t low, high, protocol = q.protocol;
            if (!ReadPortRange(v, type == Type::Portrange, low, high, protocol)) return false;
            result = PortTest(q.direction, protocol, low, high);
            return true;
        }
        if (q.protocol != 0 && q.protocol != IP_LAYER)
            return Refuse(v, std::string(type == Type::Net ? "'net'" : "'host'") + " goes with 'ip' only");
        uint32_t address = 0, mask = 0xffffffff;
        int parts = 0;
        bool overflow = false;
        if (IsSymbol(Peek(), ":")) return Refuse(v, "IPv6 and link-layer addresses do not apply to IPv4 datagrams");
        if (ReadDotted(v.text, address, parts)) {
        } else if (!v.escaped && ReadNumber(v.text, address, overflow) && !overflow) {
            parts = 0;  // a number: 32 bits
        } else {
            if (v.text.find_first_not_of("0123456789.") == std::string_view::npos || overflow)
                return Refuse(v, "'" + std::string(v.text) + "' is not an IPv4 address");
            return Refuse(v, "unknown host '" + std::string(v.text) + "' (names are not looked up)");
        }
        const bool slash = IsSymbol(Peek(), "/");
        const bool masked = IsWord(Peek(), Word::Mask);
        if (type == Type::Host) {
            if (slash || masked) return Refuse(Peek(), "a mask goes with 'net' only");
            if (parts != 0) {
                address <<= 32 - 8 * parts;
                mask <<= 32 - 8 * parts;
            }
            result = AddressTest(q.direction, address, mask);
            return true;
        }
        if (slash || masked) {
            Next();
            const Token& m = Peek();
            if (parts == 0 && address <= 255) parts = 1;  // "10/8" is 10.0.0.0/8
            if (parts != 0) address <<= 32 - 8 * parts;
            if (slash) {
                uint32_t bits;
                if (!ReadNumberToken(m, bits)) return m_final ? false : Fail(m, "expected a mask length");
                if (bits > 32) return Refuse(m, "a mask length is 0 to 32");
                mask = bits == 0 ? 0 : 0xffffffffu << (32 - bits);
            } else {
                int maskParts = 0;
                if (m.kind != Token::Word || !ReadDotted(m.text, mask, maskParts))
                    return Refuse(m, "expected a dotted mask such as 255.255.0.0");
                mask <<= 32 - 8 * maskParts;
            }
            Next();
            if (address & ~mask)
                return Refuse(v, "'" + std::string(v.text) + "' has bits set outside its network mask");
        } else if (parts != 0) {
            // 198.18.0 is 198.18.0.0/24: the mask by the parts given.
            address <<= 32 - 8 * parts;
            mask <<= 32 - 8 * parts;
        } else {
            // A number is a network of as many bytes as it needs: 10 is 10.0.0.0/8.
            while (address != 0 && (address & 0xff000000u) == 0) {
                address <<= 8;
                mask <<= 8;
            }
        }
        result = AddressTest(q.direction, address, mask);
        return true;
    }

    // A port by number or name; a name narrows protocol (0: any) to the transports it is
    // named for.
    bool ReadPort(const Token& at, std::string_view text, uint32_t& port, uint32_t& protocol)
    {
        bool overflow = false;
        if (ReadNumber(text, port, overflow) && !overflow) {
            if (port > 65535) return Refuse(at, "the port " + std::string(text) + " is above 65535");
            return true;
        }
        const Service* s = FindService(text);
        if (!s) return Refuse(at, "unknown port '" + std::string(text) + "'");
        port = s->number;
        if (s->transports == BOTH) return true;
        const uint32_t only = s->transports == TCP_NAME ? 6 : 17;
        if (protocol != 0 && protocol != only)
            return Refuse(at, "the port '" + std::string(text) + "' is " + (only == 6 ? "tcp" : "udp") + " only");
        protocol = only;
        return true;
    }

    bool ReadPortRange(const Token& v, bool range, uint32_t& low, uint32_t& high, uint32_t& protocol)
    {
        if (!range || FindService(v.text) || v.text.find('-') == std::string_view::npos) {
            if (!ReadPort(v, v.text, low, protocol)) return false;
            high = low;
            return true;
        }
        // Split at the first '-' after which both halves are ports (names may hold '-').
        for (size_t dash = v.text.find('-'); dash != std::string_view::npos; dash = v.text.find('-', dash + 1)) {
            const std::string_view a = v.text.substr(0, dash), b = v.text.substr(dash + 1);
            uint32_t pa, pb;
            bool oa = false, ob = false;
            const bool na = (ReadNumber(a, pa, oa) && !oa) || FindService(a);
            const bool nb = (ReadNumber(b, pb, ob) && !ob) || FindService(b);
            if (na && nb) {
                if (!ReadPort(v, a, low, protocol) || !ReadPort(v, b, high, protocol)) return false;
                if (low > high) std::swap(low, high);
                return true;
            }
        }
        return Refuse(v, "'" + std::string(v.text) + "' is not a port range such as 1000-2000");
    }
};

}  // namespace

bool Parse(std::string_view expression, Tree& tree, FilterError& error)
{
    std::vector<Token> tokens;
    if (!Scan(expression, tokens, error)) return false;
    Parser parser(tokens, tree);
    return parser.ParseAll(error);
}

}  // namespace kestrine::filter_tree
