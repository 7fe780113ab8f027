#include "base/encoding.h"
#include "formula/markers.h"
#include "platform/codepage.h"
#include "service/protocol_codec.h"

#include <gtest/gtest.h>

#include <set>

using namespace vexory;

TEST(Codec, HalfSwap)
{
    EXPECT_EQ(HalfSwap("abcdefghij"), "hijfgcdeab");
    EXPECT_EQ(HalfSwap("abcd"), "abcd");
    EXPECT_EQ(HalfSwap("abcde"), "cdeab");
    for (size_t n = 0; n < 200; ++n) {
        std::string s;
        for (size_t i = 0; i < n; ++i)
            s += static_cast<char>('!' + i % 90);
        EXPECT_EQ(UnHalfSwap(HalfSwap(s)), s) << n;
    }
}

TEST(Codec, PushBodyRoundTripsAndUsesOnlyTheAlphabet)
{
    std::set<int> images;
    for (int j = 0; j < 64; ++j) {
        images.insert(PushPermutation(j));
        EXPECT_EQ(InversePushPermutation(PushPermutation(j)), j);
    }
    EXPECT_EQ(images.size(), 64u);
    EXPECT_NE(PushPermutation(0), 0); // not the identity

    const std::string payload = GbkToUtf8(AddPushFiller("nick\r\n1\r\n\xC8\xCE\xCE\xF1\r\nhttp://x/\r\n \r\na=1"));
    const std::string body = EncodePushBody(payload);
    EXPECT_EQ(body.find_first_not_of(kPushAlphabet), std::string::npos);
    EXPECT_EQ(DecodePushBody(body), payload);
    EXPECT_EQ(DecodePushBody("abc=def"), ""); // "=" is no symbol of a body
    EXPECT_EQ(Base64UrlEncode("abc"), "YWJj");
}

TEST(Codec, FillerMakesEveryPayloadLongerThan99Bytes)
{
    const std::string marker = "\r\n" + std::string(MarkedSentinel) + "=";
    auto fillerChars = [&](size_t length) {
        const std::string filled = AddPushFiller(std::string(length, 'x'));
        if (filled.size() == length)
            return size_t{0};
        EXPECT_EQ(filled.substr(length, marker.size()), marker);
        const std::string chinese = filled.substr(length + marker.size());
        EXPECT_EQ(chinese.size() % 2, 0u);
        return chinese.size() / 2;
    };
    EXPECT_EQ(fillerChars(100), 0u);
    EXPECT_EQ(fillerChars(99), 1u);
    EXPECT_EQ(fillerChars(98), 2u);
    EXPECT_EQ(fillerChars(0), 51u);
    const std::string filled = AddPushFiller("short");
    EXPECT_EQ(StripPushFiller(filled), "short");
    EXPECT_EQ(StripPushFiller("a=1\r\nb=2"), "a=1\r\nb=2");
}

TEST(Codec, LoginRecords)
{
    LoginRecord in;
    in.userNumber = 2147483646;
    in.userNumberValid = true;
    in.pluginRight = true;
    in.fastRefreshRight = true;
    const std::string encoded = EncodeLoginRecord(in);
    EXPECT_GE(encoded.size(), 63u);
    const std::string decoded = DecodeLoginRecord(encoded);
    ASSERT_EQ(decoded.size(), encoded.size());
    EXPECT_EQ(decoded.find_first_not_of("0123456789.:A"), std::string::npos);
    LoginRecord out = ReadLoginRecord(decoded);
    EXPECT_TRUE(out.userNumberValid);
    EXPECT_EQ(out.userNumber, 2147483646);
    EXPECT_TRUE(out.pluginRight);
    EXPECT_FALSE(out.multiTaskRight);
    EXPECT_FALSE(out.chainRight);
    EXPECT_TRUE(out.fastRefreshRight);
    EXPECT_NE(EncodeLoginRecord(in), encoded); // every record has a fresh alphabet

    EXPECT_EQ(DecodeLoginRecord(encoded.substr(0, 62)), "");
    std::string broken = encoded;
    broken[30] = '#'; // a byte outside its own alphabet
    EXPECT_EQ(DecodeLoginRecord(broken), "");
}

TEST(Codec, PushReplies)
{
    EXPECT_TRUE(ReadPushReply("11111000").shutoff);
    PushReply sent = ReadPushReply("11112353");
    EXPECT_TRUE(sent.taken && sent.forwarded && sent.pluginAllowed);
    EXPECT_FALSE(ReadPushReply("11112000").forwarded);
    EXPECT_TRUE(ReadPushReply("11112005").forwarded == false);
    EXPECT_TRUE(ReadPushReply("11112050").forwarded);
    EXPECT_TRUE(ReadPushReply("11120000").loggedInElsewhere);
    EXPECT_TRUE(ReadPushReply("11200000").nicknameInvalid);
    EXPECT_FALSE(ReadPushReply("1111200").valid);
    EXPECT_FALSE(ReadPushReply("1111200x").valid);
    EXPECT_FALSE(ReadPushReply("21111000").shutoff);
    EXPECT_EQ(MakePushReply(true, true, false, true, true), "11112353");
    EXPECT_EQ(MakePushReply(false, true, false, false, false), "11212000");
}

TEST(Codec, RequestCodesAndForms)
{
    const std::string code = RequestCode(12345);
    EXPECT_EQ(code.size(), 40u);
    EXPECT_EQ(code.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(RequestCode(12346), code);
    EXPECT_LE(RequestNumber(), 2147483646u);
    const std::string body = FormField("username", "abc") + "&" + FormField("password", "0f");
    EXPECT_EQ(FormValue(body, "password"), "0f");
    EXPECT_EQ(FormValue(body, "user"), "");
    EXPECT_TRUE(HasFormValue(body, "username"));
    EXPECT_FALSE(HasFormValue(body, "value"));
}
