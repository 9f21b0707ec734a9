#include "kdbase/regex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class regex_test : public vantrel_test::log_test {};

// Patterns and texts sit in exactly sized heap copies, so the sanitizer build
// reports any read past either end.
int match_exact(const std::string& pattern, const std::string& text, int flags = 0)
{
    std::vector<char> p(pattern.begin(), pattern.end()), t(text.begin(), text.end());
    p.push_back(0);
    t.push_back(0);
    return regex_match(p.data(), t.data(), flags);
}

TEST_F(regex_test, match_table_and_stray_closers)
{
    const struct {
        const char *pattern, *text;
        int flags, result;
    } cases[] = {
        // Anchors and star.
        {"^ab*c$", "abbbc", 0, 1}, {"^ab*c$", "xabbbc", 0, 0}, {"^ab*c$", "ac", 0, 1}, {"^ab*c$", "abbbcx", 0, 0},
        {"c$", "abc", 0, 1}, {"b$", "abc", 0, 0},
        // Counted quantifiers: the pattern ends after three a's; the fourth is left over.
        {"a{2,3}", "caaaa", 0, 1}, {"a{2,3}", "cab", 0, 0}, {"^a{2}$", "aa", 0, 1}, {"^a{2}$", "aaa", 0, 0},
        {"^ba{2,}$", "baaaaa", 0, 1}, {"^ba{2,}$", "ba", 0, 0},
        // No backtracking: the greedy star eats the b the pattern still needs.
        {"^.*b", "aab", 0, 0},
        // Classes have no ranges.
        {"[^0-9]", "---", 0, 0}, {"[^0-9]", "-5x", 0, 1}, {"^[a-z]$", "m", 0, 0}, {"^[a-z]*$", "a-z", 0, 1},
        {"[\\]]", "x]", 0, 1}, {"^[ab]{3}$", "bab", 0, 1},
        // Groups are fixed sequences.
        {"^(ab)*c", "ababc", 0, 1}, {"^(ab){2}$", "abab", 0, 1}, {"^(a.c)$", "axc", 0, 1}, {"(a\\.c)", "axc", 0, 0},
        {"(a\\.c)", "a.c", 0, 1}, {"^x(ab)", "xa", 0, 0},
        // Case and literals.
        {"A.C", "xabc", REGEX_ICASE, 1}, {"A.C", "xabc", 0, 0}, {"[XY]", "zzy", REGEX_ICASE, 1},
        {"a+b?", "a+b?", 0, 1}, {"a\\*", "a*", 0, 1}, {"a\\*", "aa", 0, 0}, {"\\.", "x", 0, 0},
        // Text running out fails, even for a star; the empty text never matches.
        {"ab*", "ax", 0, 1}, {"ab*", "a", 0, 0}, {"a$", "a", 0, 1}, {"", "", 0, 0}, {"", "x", 0, 1},
        // Left open: the group or class runs to the pattern's end.
        {"^(ab", "abc", 0, 1}, {"^(abcd", "abc", 0, 0}, {"[xb", "ab", 0, 1}, {"[^", "ab", 0, 1}, {"(", "ab", 0, 1},
        {"[", "ab", 0, 0}, {"a{", "ab", 0, 1}, {"a{2", "aab", 0, 1}, {"a{2,", "ab", 0, 0},
        // A trailing backslash stands for itself, inside atoms, groups and classes.
        {"a\\", "a\\", 0, 1}, {"a\\", "ab", 0, 0}, {"(a\\", "xa\\", 0, 1}, {"[\\", "\\", 0, 1},
        // Huge counts saturate instead of overflowing and finish at the text's end.
        {"a{99999999999999999999}", "aaaa", 0, 0}, {"a{1,99999999999999999999}$", "aaaa", 0, 1},
        {"a{2147483647,}", "aaaa", 0, 0},
        // An empty group matches without using text, any number of times.
        {"^()*a", "a", 0, 1}, {"^(){5}a", "a", 0, 1},
        // Quantifiers and closers where an atom is expected.
        {"*", "*", 0, 1}, {"{3}", "{3", 0, 1}, {"^$", "x", 0, 0}, {"$$^^", "x", 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(match_exact(c.pattern, c.text, c.flags), c.result) << c.pattern << " on " << c.text;
    // Stray closers are logged and skipped.
    EXPECT_EQ(regex_match("a)b", "ab", 0), 1);
    EXPECT_TRUE(log_has("a)b: ) or } or ] found without starting brace"));
    EXPECT_EQ(regex_match("]}x", "x", 0), 1);
    // Reported once per call, however many start positions reach it.
    clear_log();
    EXPECT_EQ(regex_match("a)b", "aaaaaaac", 0), 0);
    EXPECT_EQ(log_lines().size(), 1u);
}

}  // namespace
