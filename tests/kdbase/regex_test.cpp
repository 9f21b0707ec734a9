#include "kdbase/regex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class regex_test : public vantrel_test::log_test {};

TEST_F(regex_test, anchors_and_star)
{
    EXPECT_EQ(regex_match("^ab*c$", "abbbc", 0), 1);
    EXPECT_EQ(regex_match("^ab*c$", "xabbbc", 0), 0);
    EXPECT_EQ(regex_match("^ab*c$", "ac", 0), 1);
    EXPECT_EQ(regex_match("^ab*c$", "abbbcx", 0), 0);
    EXPECT_EQ(regex_match("c$", "abc", 0), 1);
    EXPECT_EQ(regex_match("b$", "abc", 0), 0);
}

TEST_F(regex_test, counted_quantifiers)
{
    // The pattern ends after three a's; the fourth is left over.
    EXPECT_EQ(regex_match("a{2,3}", "caaaa", 0), 1);
    EXPECT_EQ(regex_match("a{2,3}", "cab", 0), 0);
    EXPECT_EQ(regex_match("^a{2}$", "aa", 0), 1);
    EXPECT_EQ(regex_match("^a{2}$", "aaa", 0), 0);
    EXPECT_EQ(regex_match("^ba{2,}$", "baaaaa", 0), 1);
    EXPECT_EQ(regex_match("^ba{2,}$", "ba", 0), 0);
    // No backtracking: the greedy star eats the b the pattern still needs.
    EXPECT_EQ(regex_match("^.*b", "aab", 0), 0);
}

TEST_F(regex_test, classes_have_no_ranges)
{
    EXPECT_EQ(regex_match("[^0-9]", "---", 0), 0);
    EXPECT_EQ(regex_match("[^0-9]", "-5x", 0), 1);
    EXPECT_EQ(regex_match("^[a-z]$", "m", 0), 0);
    EXPECT_EQ(regex_match("^[a-z]*$", "a-z", 0), 1);
    EXPECT_EQ(regex_match("[\\]]", "x]", 0), 1);
    EXPECT_EQ(regex_match("^[ab]{3}$", "bab", 0), 1);
}

TEST_F(regex_test, groups_are_fixed_sequences)
{
    EXPECT_EQ(regex_match("^(ab)*c", "ababc", 0), 1);
    EXPECT_EQ(regex_match("^(ab){2}$", "abab", 0), 1);
    EXPECT_EQ(regex_match("^(a.c)$", "axc", 0), 1);
    EXPECT_EQ(regex_match("(a\\.c)", "axc", 0), 0);
    EXPECT_EQ(regex_match("(a\\.c)", "a.c", 0), 1);
    EXPECT_EQ(regex_match("^x(ab)", "xa", 0), 0);
}

TEST_F(regex_test, case_and_literals)
{
    EXPECT_EQ(regex_match("A.C", "xabc", REGEX_ICASE), 1);
    EXPECT_EQ(regex_match("A.C", "xabc", 0), 0);
    EXPECT_EQ(regex_match("[XY]", "zzy", REGEX_ICASE), 1);
    EXPECT_EQ(regex_match("a+b?", "a+b?", 0), 1);
    EXPECT_EQ(regex_match("a\\*", "a*", 0), 1);
    EXPECT_EQ(regex_match("a\\*", "aa", 0), 0);
    EXPECT_EQ(regex_match("\\.", "x", 0), 0);
}

TEST_F(regex_test, text_running_out_fails_even_for_star)
{
    EXPECT_EQ(regex_match("ab*", "ax", 0), 1);
    EXPECT_EQ(regex_match("ab*", "a", 0), 0);
    EXPECT_EQ(regex_match("a$", "a", 0), 1);
    // Every start position is a character: the empty text never matches.
    EXPECT_EQ(regex_match("", "", 0), 0);
    EXPECT_EQ(regex_match("", "x", 0), 1);
}

TEST_F(regex_test, stray_closers_are_logged_and_skipped)
{
    EXPECT_EQ(regex_match("a)b", "ab", 0), 1);
    EXPECT_TRUE(log_has("a)b: ) or } or ] found without starting brace"));
    EXPECT_EQ(regex_match("]}x", "x", 0), 1);
    // Reported once per call, however many start positions reach it.
    clear_log();
    EXPECT_EQ(regex_match("a)b", "aaaaaaac", 0), 0);
    EXPECT_EQ(log_lines().size(), 1u);
}

// Patterns and texts sit in exactly sized heap copies, so the sanitizer build
// reports any read past either end.
int match_exact(const std::string& pattern, const std::string& text, int flags = 0)
{
    std::vector<char> p(pattern.begin(), pattern.end()), t(text.begin(), text.end());
    p.push_back(0);
    t.push_back(0);
    return regex_match(p.data(), t.data(), flags);
}

TEST_F(regex_test, hostile_patterns_stay_inside_their_text)
{
    // Left open: the group or class runs to the pattern's end.
    EXPECT_EQ(match_exact("^(ab", "abc"), 1);
    EXPECT_EQ(match_exact("^(abcd", "abc"), 0);
    EXPECT_EQ(match_exact("[xb", "ab"), 1);
    EXPECT_EQ(match_exact("[^", "ab"), 1);
    EXPECT_EQ(match_exact("(", "ab"), 1);
    EXPECT_EQ(match_exact("[", "ab"), 0);
    EXPECT_EQ(match_exact("a{", "ab"), 1);
    EXPECT_EQ(match_exact("a{2", "aab"), 1);
    EXPECT_EQ(match_exact("a{2,", "ab"), 0);
    // A trailing backslash stands for itself, inside atoms, groups and classes.
    EXPECT_EQ(match_exact("a\\", "a\\"), 1);
    EXPECT_EQ(match_exact("a\\", "ab"), 0);
    EXPECT_EQ(match_exact("(a\\", "xa\\"), 1);
    EXPECT_EQ(match_exact("[\\", "\\"), 1);
    // Huge counts saturate instead of overflowing and finish at the text's end.
    EXPECT_EQ(match_exact("a{99999999999999999999}", "aaaa"), 0);
    EXPECT_EQ(match_exact("a{1,99999999999999999999}$", "aaaa"), 1);
    EXPECT_EQ(match_exact("a{2147483647,}", "aaaa"), 0);
    // An empty group matches without using text, any number of times.
    EXPECT_EQ(match_exact("^()*a", "a"), 1);
    EXPECT_EQ(match_exact("^(){5}a", "a"), 1);
    // Quantifiers and closers where an atom is expected.
    EXPECT_EQ(match_exact("*", "*"), 1);
    EXPECT_EQ(match_exact("{3}", "{3"), 1);
    EXPECT_EQ(match_exact("^$", "x"), 0);
    EXPECT_EQ(match_exact("$$^^", "x"), 0);
}

TEST_F(regex_test, every_prefix_of_a_nasty_pattern_is_safe)
{
    const std::string pattern = "^([\\a.{b]*)\\{2,}[^\\]{3,1}(x\\)*$";
    const std::string text = "[a.{b\\{{{]]]x)x)";
    for (size_t n = 0; n <= pattern.size(); ++n)
        for (size_t m = 0; m <= text.size(); ++m) {
            match_exact(pattern.substr(0, n), text.substr(0, m));
            match_exact(pattern.substr(n), text.substr(m), REGEX_ICASE);
        }
    SUCCEED();
}

}  // namespace
