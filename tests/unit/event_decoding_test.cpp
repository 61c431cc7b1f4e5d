// Decoding follows RFC 8259 exactly and keeps what resolution reads.
#include "json_reference.hpp"
#include "resolution_outcome.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace skillhook::testing {
namespace {

struct DecodingCase {
    const char* name;
    std::string text;
    bool decodes;
};

// A failure names the row, not its bytes.
void PrintTo(const DecodingCase& row, std::ostream* out) { *out << row.name; }

class Decoding : public ::testing::TestWithParam<DecodingCase> {};

TEST_P(Decoding, AcceptsExactlyOneJsonText) {
    EXPECT_EQ(decode_event(GetParam().text).has_value(), GetParam().decodes) << GetParam().text;
    EXPECT_EQ(!reference_parse(GetParam().text, 64).error, GetParam().decodes) << "reference: " << GetParam().text;
}

// `bytes` after 67 bytes of text in another script and before as many, in
// a string of an object: the vector paths validate them within a block, at
// a place that is no multiple of 16, 32 or 64, after a character cut by the
// first block's end.
std::string after_a_block(const std::string& bytes) {
    std::string text;
    for (int i = 0; i < 22; ++i) text += "\xE4\xB8\xAD";  // 中
    return "{\"a\":\"" + text + "x" + bytes + text + "\"}";
}

INSTANTIATE_TEST_SUITE_P(
    Rfc8259, Decoding,
    ::testing::Values(
        DecodingCase{"Empty", "", false},
        DecodingCase{"WhitespaceOnly", " \t\r\n", false},
        DecodingCase{"ByteOrderMark", "\xEF\xBB\xBF{}", false},
        DecodingCase{"TrailingObject", "{} {}", false},
        DecodingCase{"TrailingWord", "{\"a\":1} x", false},
        DecodingCase{"Truncated", "{\"tool_name\":\"Skill\"", false},
        DecodingCase{"InvalidUtf8InString", "{\"a\":\"\xC3\x28\"}", false},
        DecodingCase{"OverlongUtf8", "{\"a\":\"\xC0\xAF\"}", false},
        DecodingCase{"LoneSurrogateBytes", "{\"a\":\"\xED\xA0\x80\"}", false},
        DecodingCase{"TextInAnotherScript", after_a_block("\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xED\x9F\xBF"), true},
        DecodingCase{"StrayContinuationAfterABlock", after_a_block("\x80"), false},
        DecodingCase{"OverlongAfterABlock", after_a_block("\xE0\x9F\xBF"), false},
        DecodingCase{"SurrogateBytesAfterABlock", after_a_block("\xED\xBF\xBF"), false},
        DecodingCase{"BeyondU10FFFFAfterABlock", after_a_block("\xF4\x90\x80\x80"), false},
        DecodingCase{"TruncatedAfterABlock", after_a_block("\xF0\x9F\x98"), false},
        DecodingCase{"NaN", "NaN", false},
        DecodingCase{"Infinity", "[Infinity]", false},
        DecodingCase{"NegativeInfinity", "-Infinity", false},
        DecodingCase{"Comment", "{} // note", false},
        DecodingCase{"TrailingComma", "[1,]", false},
        DecodingCase{"SingleQuotes", "{'a':1}", false},
        DecodingCase{"NonJsonWhitespace", "\v{}", false},
        DecodingCase{"SurroundingJsonWhitespace", " \t\r\n{} \t\r\n", true},
        DecodingCase{"TopLevelArray", "[]", true},
        DecodingCase{"TopLevelString", "\"x\"", true},
        DecodingCase{"TopLevelNumber", "-0.5e3", true},
        DecodingCase{"TopLevelTrue", "true", true},
        DecodingCase{"TopLevelNull", "null", true},
        DecodingCase{"HugeInteger", "18446744073709551616", true},
        DecodingCase{"HugeExponent", "1e400", true},
        DecodingCase{"EscapedSurrogatePair", "\"\\ud83d\\ude00\"", true}),
    [](const ::testing::TestParamInfo<DecodingCase>& test) { return test.param.name; });

// Grammatical texts that Boost.JSON refuses on its own: lone UTF-16 surrogate
// escapes and exponents beyond its int.
struct RefusedByBoostCase {
    const char* name;
    std::string text;
    std::string outcome;
};

void PrintTo(const RefusedByBoostCase& row, std::ostream* out) { *out << row.name; }

class RefusedByBoost : public ::testing::TestWithParam<RefusedByBoostCase> {};

TEST_P(RefusedByBoost, DecodesAsRfc8259Allows) {
    EXPECT_EQ(resolution_outcome(GetParam().text), GetParam().outcome) << GetParam().text;
}

std::string skill_event_with(const std::string& member) {
    return R"({"tool_name":"Skill","tool_input":{"skill":"tvx-auth"},)" + member + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Rfc8259, RefusedByBoost,
    ::testing::Values(
        RefusedByBoostCase{"LoneLeadingSurrogate", skill_event_with(R"("tool_response":"\ud800")"), "tvx-auth"},
        RefusedByBoostCase{"LoneTrailingSurrogate", skill_event_with(R"("tool_response":"\udc00x")"), "tvx-auth"},
        RefusedByBoostCase{"LeadingSurrogateBeforeAnotherEscape", skill_event_with(R"("r":"\ud834\u0041")"),
                           "tvx-auth"},
        RefusedByBoostCase{"LeadingSurrogateBeforeAPair", skill_event_with(R"("r":"\uD83D\uD83D\uDE00")"), "tvx-auth"},
        RefusedByBoostCase{"LoneSurrogateAfterAnEscapedBackslash", skill_event_with(R"("r":"\\\ud800\\ud800")"),
                           "tvx-auth"},
        RefusedByBoostCase{"LoneSurrogateInAKey", skill_event_with(R"("\udfff":1)"), "tvx-auth"},
        RefusedByBoostCase{"LoneSurrogateInToolName", R"({"tool_name":"Skill\ud800","tool_input":{"skill":"x"}})",
                           std::string(absent)},
        RefusedByBoostCase{"LoneSurrogateInMcpToolName", R"({"tool_name":"mcp__tolvex__auth_logout\udbff"})",
                           std::string(absent)},
        // No UTF-8 form: the name reads as one holding NUL, which is never reported.
        RefusedByBoostCase{"LoneSurrogateInSkillName", R"({"tool_name":"Skill","tool_input":{"skill":"tvx\ud800"}})",
                           std::string("tvx\0", 4)},
        RefusedByBoostCase{"ExponentOf2To31", skill_event_with(R"("x":1e2147483648)"), "tvx-auth"},
        RefusedByBoostCase{"NegativeExponentOf2To32", skill_event_with(R"("x":-1E+4294967296)"), "tvx-auth"},
        RefusedByBoostCase{"HugeExponentOfZero", skill_event_with(R"("x":[0e99999999999999999999])"), "tvx-auth"},
        RefusedByBoostCase{"ExponentBeyondIntWithTheDigitsScale",
                           skill_event_with(R"("x":12345678901234567890123e2147483647,"y":0.5e-2147483648)"),
                           "tvx-auth"},
        RefusedByBoostCase{"ZeroWithHugeExponentIsEmpty", R"({"tool_name":"Skill","tool_input":0e99999999999})",
                           std::string(absent)},
        RefusedByBoostCase{"NonZeroWithHugeExponentIsNotEmpty", R"({"tool_name":"Skill","tool_input":1e-99999999999})",
                           std::string(malformed)},
        RefusedByBoostCase{"TruncatedAfterALoneSurrogate", R"({"tool_name":"Skill","r":"\ud800)",
                           std::string(not_json)},
        RefusedByBoostCase{"HugeExponentThenGarbage", R"({"tool_name":"Skill","x":1e99999999999x})",
                           std::string(not_json)}),
    [](const ::testing::TestParamInfo<RefusedByBoostCase>& test) { return test.param.name; });

TEST(Decoding, ReportsTheKindOfTheTopLevelValue) {
    EXPECT_EQ(decode_event("[1]")->kind, JsonKind::array);
    EXPECT_EQ(decode_event("\"s\"")->kind, JsonKind::string);
    EXPECT_EQ(decode_event("0")->kind, JsonKind::number);
    EXPECT_EQ(decode_event("false")->kind, JsonKind::boolean);
    EXPECT_EQ(decode_event("null")->kind, JsonKind::null);
    EXPECT_EQ(decode_event("{}")->kind, JsonKind::object);
}

TEST(Decoding, DecodesEscapesInTheMembersItKeeps) {
    const auto event = decode_event(R"({"tool_name":"Sk\u0069ll","tool_input":{"command":"a\"b\\c\u00e9\ud83d\ude00"}})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->tool_name.text, "Skill");
    EXPECT_EQ(event->command.text, "a\"b\\c\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(Decoding, AToolInputThatIsNoObjectHasNoMembers) {
    // Found by fuzzing: the array's element was taken for the skill named in
    // the tool_input it replaced.
    const auto event = decode_event(R"({"tool_name":"Skill","tool_input":{"skill":"x"},"tool_input":["y"]})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->tool_input.kind, JsonKind::array);
    EXPECT_EQ(event->skill.kind, JsonKind::missing);
    EXPECT_EQ(event->command.kind, JsonKind::missing);
}

TEST(Decoding, MatchesMemberNamesAfterDecodingTheirEscapes) {
    EXPECT_EQ(resolution_outcome(R"({"tool\u005fname":"Skill","tool_input":{"\u0073kill":"tvx-auth"}})"), "tvx-auth");
}

TEST(Decoding, KeepsOnlyMembersAtTheirOwnLevel) {
    // Members named like the ones read, but nested elsewhere, are ignored.
    EXPECT_EQ(resolution_outcome(R"({"x":{"tool_name":"Skill"},"tool_name":"Read"})"), absent);
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Skill","tool_input":{"x":{"command":"deep"}}})"), absent);
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Skill","command":"top","tool_input":{}})"), absent);
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Skill","tool_input":[{"command":"in-array"}]})"), malformed);
    // Values inside an array that replaced tool_input are no members of it.
    const auto event = decode_event(R"({"tool_input":{"command":"a"},"tool_input":["b",{"command":"c"}]})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->tool_input.kind, JsonKind::array);
    EXPECT_EQ(event->command.kind, JsonKind::missing);
}

TEST(Decoding, TheLaterOfTwoEqualMembersCounts) {
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Read","tool_name":"mcp__tolvex__query_run"})"), "tvx-dataset-query");
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"mcp__tolvex__query_run","tool_name":"Read"})"), absent);
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Skill","tool_input":{"command":"a","command":"b"}})"), "b");
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Skill","tool_input":{"command":"a","command":[]}})"), absent);
    // A later tool_input replaces the earlier one with all its members.
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Skill","tool_input":{"command":"a"},"tool_input":{}})"), absent);
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Skill","tool_input":{"command":"a"},"tool_input":null})"), absent);
    EXPECT_EQ(resolution_outcome(R"({"tool_input":{"skill":"x"},"tool_name":"Skill","tool_input":{"skill":"y"}})"), "y");
}

TEST(Decoding, NumbersOfAnySizeNeverHideASkill) {
    EXPECT_EQ(resolution_outcome(
                  R"({"tool_name":"Skill","tool_response":18446744073709551616,"x":1e400,"y":-1e-400,"tool_input":{"skill":"tvx-auth","n":123456789012345678901234567890}})"),
              "tvx-auth");
}

TEST(Decoding, ALongKeyThatBeginsLikeAMemberIsAnotherMember) {
    EXPECT_EQ(resolution_outcome(R"({"tool_name":"Skill","tool_input_and_more":{"skill":"x"}})"), absent);
    EXPECT_EQ(resolution_outcome(R"({"tool_name_long":"Skill","tool_input":{"skill":"x"}})"), absent);
}

TEST(Decoding, DeepNestingDecodesWithoutACrash) {
    for (const std::size_t depth : {std::size_t{9'999}, std::size_t{100'000}}) {
        std::string text = R"({"tool_name":"Skill","tool_input":{"skill":"tvx-auth"},"deep":)";
        text += std::string(depth, '[') + std::string(depth, ']') + "}";
        EXPECT_EQ(resolution_outcome(text), "tvx-auth") << depth;
        std::string objects;
        for (std::size_t i = 0; i < depth; ++i) objects += R"({"a":)";
        objects += '1';
        objects.append(depth, '}');
        EXPECT_TRUE(decode_event(objects)) << depth;
    }
}

TEST(Decoding, NestingBeyondTheLimitIsRefusedNotACrash) {
    const std::size_t depth = 2'000'000;
    EXPECT_FALSE(decode_event(std::string(depth, '[') + std::string(depth, ']')));
}

}  // namespace
}  // namespace skillhook::testing
