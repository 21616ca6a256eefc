// A strict reader of the JSON the tool prints, so that the tests check that the text is
// valid JSON and read its values back rather than searching the text.
#ifndef DIAG_TEST_JSON_PARSE_H
#define DIAG_TEST_JSON_PARSE_H

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct CJsonValue {
    enum Kind { NUL, BOOL, NUMBER, STRING, ARRAY, OBJECT } m_eKind = NUL;
    bool m_b = false;
    double m_d = 0.0;
    std::string m_s;
    std::vector<CJsonValue> m_a;
    std::map<std::string, CJsonValue> m_o;

    const CJsonValue& operator[](const char* pszKey) const
    {
        static const CJsonValue none;
        auto it = m_o.find(pszKey);
        return it == m_o.end() ? none : it->second;
    }
    bool Has(const char* pszKey) const { return m_o.count(pszKey) != 0; }
};

class CJsonParser {
public:
    // False when pszText is not exactly one JSON value (surrounding white space allowed).
    static bool Parse(const std::string& text, CJsonValue& value)
    {
        CJsonParser p(text);
        return p.Value(value) && (p.Skip(), p.m_nPos == text.size());
    }

private:
    explicit CJsonParser(const std::string& text) : m_text(text), m_nPos(0) {}
    void Skip()
    {
        while (m_nPos < m_text.size() && (m_text[m_nPos] == ' ' || m_text[m_nPos] == '\n' || m_text[m_nPos] == '\t' ||
                                          m_text[m_nPos] == '\r'))
            m_nPos++;
    }
    bool Literal(const char* psz)
    {
        std::string s(psz);
        if (m_text.compare(m_nPos, s.size(), s) != 0)
            return false;
        m_nPos += s.size();
        return true;
    }
    bool String(std::string& s)
    {
        if (m_nPos >= m_text.size() || m_text[m_nPos] != '"')
            return false;
        for (m_nPos++; m_nPos < m_text.size(); m_nPos++) {
            char c = m_text[m_nPos];
            if (c == '"') {
                m_nPos++;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c == '\\') {
                if (++m_nPos >= m_text.size())
                    return false;
                char e = m_text[m_nPos];
                if (e == 'n') s += '\n';
                else if (e == 't') s += '\t';
                else if (e == '"' || e == '\\' || e == '/') s += e;
                else if (e == 'u' && m_nPos + 4 < m_text.size()) {
                    s += static_cast<char>(strtol(m_text.substr(m_nPos + 1, 4).c_str(), nullptr, 16));
                    m_nPos += 4;
                } else
                    return false;
            } else {
                s += c;
            }
        }
        return false;
    }
    bool Value(CJsonValue& v)
    {
        Skip();
        if (m_nPos >= m_text.size())
            return false;
        char c = m_text[m_nPos];
        if (c == '{') {
            v.m_eKind = CJsonValue::OBJECT;
            m_nPos++;
            Skip();
            if (m_nPos < m_text.size() && m_text[m_nPos] == '}')
                return ++m_nPos, true;
            for (;;) {
                std::string key;
                Skip();
                if (!String(key))
                    return false;
                Skip();
                if (!Literal(":") || !Value(v.m_o[key]))
                    return false;
                Skip();
                if (Literal("}"))
                    return true;
                if (!Literal(","))
                    return false;
            }
        }
        if (c == '[') {
            v.m_eKind = CJsonValue::ARRAY;
            m_nPos++;
            Skip();
            if (m_nPos < m_text.size() && m_text[m_nPos] == ']')
                return ++m_nPos, true;
            for (;;) {
                v.m_a.emplace_back();
                if (!Value(v.m_a.back()))
                    return false;
                Skip();
                if (Literal("]"))
                    return true;
                if (!Literal(","))
                    return false;
            }
        }
        if (c == '"') {
            v.m_eKind = CJsonValue::STRING;
            return String(v.m_s);
        }
        if (Literal("true")) return v.m_eKind = CJsonValue::BOOL, v.m_b = true, true;
        if (Literal("false")) return v.m_eKind = CJsonValue::BOOL, v.m_b = false, true;
        if (Literal("null")) return v.m_eKind = CJsonValue::NUL, true;
        const char* pStart = m_text.c_str() + m_nPos;
        char* pEnd = nullptr;
        v.m_d = strtod(pStart, &pEnd);
        if (pEnd == pStart || *pStart == '+' || *pStart == '.')
            return false;
        v.m_eKind = CJsonValue::NUMBER;
        m_nPos += static_cast<size_t>(pEnd - pStart);
        return true;
    }

    const std::string& m_text;
    size_t m_nPos;
};

#endif
