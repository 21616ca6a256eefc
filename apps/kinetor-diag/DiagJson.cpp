#include "DiagJson.h"

#include <cmath>
#include <cstdio>

CJsonWriter::CJsonWriter() : m_bNeedComma(false) {}

std::string CJsonWriter::Quote(const char* pszText)
{
    std::string s = "\"";
    for (const char* p = pszText != nullptr ? pszText : ""; *p != '\0'; p++) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
        case '"':
            s += "\\\"";
            break;
        case '\\':
            s += "\\\\";
            break;
        case '\n':
            s += "\\n";
            break;
        case '\t':
            s += "\\t";
            break;
        default:
            if (c < 0x20) {
                char szEscape[8];
                snprintf(szEscape, sizeof(szEscape), "\\u%04x", c);
                s += szEscape;
            } else {
                s += static_cast<char>(c);
            }
        }
    }
    s += '"';
    return s;
}

void CJsonWriter::Key(const char* pszKey)
{
    if (m_bNeedComma)
        m_strText += ',';
    if (pszKey != nullptr) {
        m_strText += Quote(pszKey);
        m_strText += ':';
    }
    m_bNeedComma = true;
}

void CJsonWriter::BeginObject(const char* pszKey)
{
    Key(pszKey);
    m_strText += '{';
    m_bNeedComma = false;
}

void CJsonWriter::EndObject()
{
    m_strText += '}';
    m_bNeedComma = true;
}

void CJsonWriter::BeginArray(const char* pszKey)
{
    Key(pszKey);
    m_strText += '[';
    m_bNeedComma = false;
}

void CJsonWriter::EndArray()
{
    m_strText += ']';
    m_bNeedComma = true;
}

void CJsonWriter::String(const char* pszKey, const char* pszValue)
{
    Key(pszKey);
    m_strText += Quote(pszValue);
}

void CJsonWriter::Number(const char* pszKey, double dValue)
{
    Key(pszKey);
    if (!std::isfinite(dValue)) {
        m_strText += "null";
        return;
    }
    char szNumber[64];
    snprintf(szNumber, sizeof(szNumber), "%.6g", dValue);
    m_strText += szNumber;
}

void CJsonWriter::Integer(const char* pszKey, long nValue)
{
    Key(pszKey);
    char szNumber[32];
    snprintf(szNumber, sizeof(szNumber), "%ld", nValue);
    m_strText += szNumber;
}

void CJsonWriter::Bool(const char* pszKey, bool bValue)
{
    Key(pszKey);
    m_strText += bValue ? "true" : "false";
}

void CJsonWriter::Null(const char* pszKey)
{
    Key(pszKey);
    m_strText += "null";
}
