// The API reference is generated from the public headers, so every exported function there
// must carry its own documentation block: each argument, the result, and which thread may
// call it. A function added without them would leave a hole in the reference unnoticed.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct EXPORTED_FUNCTION {
    std::string name;
    std::vector<std::string> params;
    bool bReturnsVoid;
    std::string doc;  // the documentation block right before it, "" when there is none
};

std::string ReadHeader(const std::string& name)
{
    std::ifstream in(std::string(KIO_SOURCE_DIR) + "/include/" + name);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The name of one parameter: a function pointer's "(*name)", else the last identifier
// before any array bounds. "void" alone is no parameter.
std::string ParamName(std::string param)
{
    std::smatch m;
    if (std::regex_search(param, m, std::regex(R"(\(\s*\*\s*(\w+)\s*\))")))
        return m[1];
    param = std::regex_replace(param, std::regex(R"(\[[^\]]*\])"), "");
    if (std::regex_search(param, m, std::regex(R"((\w+)\s*$)")) && m[1] != "void")
        return m[1];
    return "";
}

std::vector<std::string> SplitParams(const std::string& list)
{
    std::vector<std::string> parts;
    std::string cur;
    int nDepth = 0;
    for (char c : list) {
        if (c == '(')
            nDepth++;
        if (c == ')')
            nDepth--;
        if (c == ',' && nDepth == 0) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    std::vector<std::string> names;
    for (const std::string& p : parts) {
        std::string n = ParamName(p);
        if (!n.empty())
            names.push_back(n);
    }
    return names;
}

// Every KINETOR_EXPORT function declaration with the block comment that ends right before it.
std::vector<EXPORTED_FUNCTION> ExportedFunctions(const std::string& text)
{
    std::vector<EXPORTED_FUNCTION> fns;
    const std::regex decl(R"(KINETOR_EXPORT\s+((?:const\s+)?(?:struct\s+)?\w+\s*\**)\s*(\w+)\s*\()");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), decl); it != std::sregex_iterator(); ++it) {
        EXPORTED_FUNCTION f;
        const size_t nAt = (size_t)it->position(0);
        f.name = (*it)[2];
        f.bReturnsVoid = std::regex_match(std::string((*it)[1]), std::regex(R"(void\s*)"));
        // The parameter list, up to the matching parenthesis.
        size_t nOpen = nAt + (size_t)it->length(0), n = nOpen;
        int nDepth = 1;
        while (n < text.size() && nDepth > 0) {
            if (text[n] == '(')
                nDepth++;
            if (text[n] == ')')
                nDepth--;
            n++;
        }
        f.params = SplitParams(text.substr(nOpen, n - 1 - nOpen));
        // The comment that ends right before the declaration, when it is a "/**" block; a
        // plain "/*" comment there does not count.
        const size_t nEnd = text.rfind("*/", nAt);
        const size_t nStart = nEnd == std::string::npos ? std::string::npos : text.rfind("/*", nEnd);
        if (nStart != std::string::npos && text.compare(nStart, 3, "/**") == 0 &&
            text.find_first_not_of(" \t\n", nEnd + 2) == nAt)
            f.doc = text.substr(nStart, nEnd - nStart);
        fns.push_back(f);
    }
    return fns;
}

TEST(HeaderDocs, EveryExportedFunctionIsDocumented)
{
    const char* const apszHeaders[] = {"KinetorIO.h",    "KinetorServo.h", "KinetorLog.h",
                                       "KinetorWin32.h", "KinetorStats.h", "KinetorFirmware.h"};
    size_t nFunctions = 0;
    for (const char* pszHeader : apszHeaders) {
        const std::vector<EXPORTED_FUNCTION> fns = ExportedFunctions(ReadHeader(pszHeader));
        EXPECT_FALSE(fns.empty()) << pszHeader;
        nFunctions += fns.size();
        for (const EXPORTED_FUNCTION& f : fns) {
            SCOPED_TRACE(std::string(pszHeader) + ": " + f.name);
            ASSERT_FALSE(f.doc.empty()) << "no /** */ block right before the declaration";
            EXPECT_NE(f.doc.find("@thread"), std::string::npos) << "which thread may call it";
            if (!f.bReturnsVoid) {
                EXPECT_NE(f.doc.find("@return"), std::string::npos) << "what it returns";
            }
            for (const std::string& p : f.params) {
                EXPECT_TRUE(std::regex_search(f.doc, std::regex("@param " + p + "\\b"))) << "argument " << p;
            }
        }
    }
    // The flat interface alone has 90 functions; a parser that finds far fewer is broken.
    EXPECT_GT(nFunctions, 130u);
}

// The checker itself, on declarations whose faults are known.
TEST(HeaderDocs, CheckerFindsMissingPieces)
{
    const std::string text =
        "/** Good. @param a x @param cb y @return z @thread Any thread. */\n"
        "KINETOR_EXPORT int good(int a, int (*cb)(void*));\n"
        "/* plain comment */\n"
        "KINETOR_EXPORT void plain(void);\n"
        "/** Doc. @thread Any. */\n"
        "int unrelated;\n"
        "KINETOR_EXPORT float T_arr(int id, float T[4][4]);\n";
    const std::vector<EXPORTED_FUNCTION> fns = ExportedFunctions(text);
    ASSERT_EQ(fns.size(), 3u);
    EXPECT_EQ(fns[0].name, "good");
    EXPECT_EQ(fns[0].params, (std::vector<std::string>{"a", "cb"}));
    EXPECT_FALSE(fns[0].doc.empty());
    EXPECT_TRUE(fns[1].bReturnsVoid);
    EXPECT_TRUE(fns[1].params.empty());
    EXPECT_TRUE(fns[1].doc.empty());
    EXPECT_EQ(fns[2].params, (std::vector<std::string>{"id", "T"}));
    EXPECT_TRUE(fns[2].doc.empty());
}

}  // namespace
