// A small writer of JSON text for the tool's --json output: objects, arrays, strings,
// numbers and booleans, with commas and string escapes handled in one place.
#ifndef DIAG_JSON_H
#define DIAG_JSON_H

#include <string>

class CJsonWriter {
public:
    CJsonWriter();

    void BeginObject(const char* pszKey = nullptr);
    void EndObject();
    void BeginArray(const char* pszKey = nullptr);
    void EndArray();
    void String(const char* pszKey, const char* pszValue);
    // Non-finite numbers have no JSON form; they are written as null.
    void Number(const char* pszKey, double dValue);
    void Integer(const char* pszKey, long nValue);
    void Bool(const char* pszKey, bool bValue);
    void Null(const char* pszKey);

    const std::string& Text() const { return m_strText; }

    // pszText as a quoted JSON string.
    static std::string Quote(const char* pszText);

private:
    void Key(const char* pszKey);

    std::string m_strText;
    bool m_bNeedComma;
};

#endif
