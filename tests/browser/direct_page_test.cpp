// A page's text read without a browser: its encoding decided as a browser decides
// it, its links made whole as a browser's links make them, its markup serialized
// as innerHTML serializes it. (The real browser's text is compared with it in the
// runner's tests.)

#include "browser/direct_page.h"
#include "browser/page_encoding.h"
#include "browser/url_resolve.h"
#include "support/hostile_bodies.h"

#include <gtest/gtest.h>

#include <functional>
#include <pthread.h>

using namespace vexory;
using vexory::test::ManyAttributesPage;
using vexory::test::RepeatedPage;

TEST(DirectPage, TheEncodingComesFromTheMarkTheHeaderOrTheMeta)
{
    const struct
    {
        std::string bytes, contentType;
        PageEncoding encoding;
    } cases[] = {
        {"\xEF\xBB\xBF<meta charset=gbk>", "text/html; charset=big5", PageEncoding::Utf8}, // the mark wins
        {"\xFF\xFEx", "", PageEncoding::Utf16Le},
        {"<meta charset=utf-8>", "text/html; charset=\"GB2312\"", PageEncoding::Gb18030},
        {"<meta charset=utf-8>", "text/html;charset=x-nonsense", PageEncoding::Unknown},
        {"<!-- <meta charset=big5> --><META CHARSET='GBK'>", "text/html", PageEncoding::Gb18030},
        {"<meta http-equiv=Content-Type content=\"text/html; charset=big5\">", "", PageEncoding::Big5},
        {"<meta content=\"text/html; charset=big5\">", "", PageEncoding::Unknown}, // no pragma
        {"<meta charset=utf-16>", "", PageEncoding::Utf8},
        {"<meta charset=latin1>", "", PageEncoding::Windows1252},
        {"<title x='<meta charset=gbk>'></title><meta charset=big5>", "", PageEncoding::Big5},
        {std::string(1030, ' ') + "<meta charset=gbk>", "", PageEncoding::Unknown}, // past 1024 bytes
        {"<p>no charset</p>", "text/html", PageEncoding::Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SniffEncoding(c.bytes, c.contentType).encoding, c.encoding) << c.bytes;

    // Malformed bytes: one U+FFFD each, as the encoding standard's decoders give.
    EXPECT_EQ(*DecodeToUtf8("a\xE4\xB8z\xF0\x9F\x98\x80\xFF", PageEncoding::Utf8), "a\xEF\xBF\xBDz\xF0\x9F\x98\x80\xEF\xBF\xBD");
    EXPECT_EQ(*DecodeToUtf8("\xD6\xD0\x80\x81 a\xFF", PageEncoding::Gb18030),
              "\xE4\xB8\xAD\xE2\x82\xAC\xEF\xBF\xBD a\xEF\xBF\xBD");
    EXPECT_EQ(*DecodeToUtf8("\x80\x81", PageEncoding::Windows1252), "\xE2\x82\xAC\xC2\x81");
    EXPECT_FALSE(DecodeToUtf8("x", PageEncoding::Unknown));
}

TEST(DirectPage, LinksResolveAsTheUrlStandardResolvesThem)
{
    const std::string base = "http://Host.example:80/dir/page.html?q=1#top";
    const struct
    {
        std::string input, whole;
    } cases[] = {
        {"", "http://host.example/dir/page.html?q=1"},
        {"#f", "http://host.example/dir/page.html?q=1#f"},
        {"?a=b c", "http://host.example/dir/page.html?a=b%20c"},
        {"x y.html", "http://host.example/dir/x%20y.html"},
        {"../a/./b/../c", "http://host.example/a/c"},
        {"/abs\\path", "http://host.example/abs/path"},
        {"//other.example:8080/p", "http://other.example:8080/p"},
        {"HTTPS://WWW.Example.com:443", "https://www.example.com/"},
        {"http:rel", "http://host.example/dir/rel"},
        {" \t/sp\nace ", "http://host.example/space"},
        {"javascript:void(0)", "javascript:void(0)"},
        {"mailto:a@b.c?subject=x y", "mailto:a@b.c?subject=x%20y"},
        {"/\xE4\xB8\xAD?\xE4\xB8\xAD#\xE4\xB8\xAD", "http://host.example/%E4%B8%AD?%D6%D0#%E4%B8%AD"},
        {"p?it's", "http://host.example/dir/p?it%27s"},
        {"http://1.2.3.4/", "http://1.2.3.4/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolveUrl(c.input, base, PageEncoding::Gb18030).value_or("(none)"), c.whole) << c.input;
    // What a browser would have to map first is left to the browser.
    EXPECT_FALSE(ResolveUrl("http://\xE4\xB8\xAD.example/", base));
    EXPECT_FALSE(ResolveUrl("http://0x7f.1/", base));
    EXPECT_FALSE(ResolveUrl("?\xF0\x9F\x98\x80", base, PageEncoding::Gb18030)); // not in GBK
}

TEST(DirectPage, MarkupIsSerializedAsInnerHtml)
{
    const struct
    {
        std::string html, inner;
    } cases[] = {
        {"<title>a&amp;b</title><p>x<p>y", "<head><title>a&amp;b</title></head><body><p>x</p><p>y</p></body>"},
        {"<table><tr><td>1</table>", "<head></head><body><table><tbody><tr><td>1</td></tr></tbody></table></body>"},
        {"<p title='a\"b&c\xC2\xA0'>&lt;&gt;&nbsp;</p>",
         "<head></head><body><p title=\"a&quot;b&amp;c&nbsp;\">&lt;&gt;&nbsp;</p></body>"},
        {"<br/><img src=x><input disabled><custom-el A=1>", "<head></head><body><br><img src=\"x\"><input disabled=\"\">"
                                                             "<custom-el a=\"1\"></custom-el></body>"},
        {"<script>a<b</script><style>p>q{}</style><!--c-->",
         "<head><script>a<b</script><style>p>q{}</style><!--c--></head><body></body>"},
        {"<svg viewbox='0 0 1 1'><foreignobject/><a xlink:href=#u></a></svg>",
         "<head></head><body><svg viewBox=\"0 0 1 1\"><foreignObject></foreignObject><a xlink:href=\"#u\"></a></svg>"
         "</body>"},
        {"<template><td>t</td></template>", "<head><template><td>t</td></template></head><body></body>"},
        {"<pre>\n\nx</pre>", "<head></head><body><pre>\nx</pre></body>"},
        {"a\r\nb\rc", "<head></head><body>a\nb\nc</body>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InnerHtmlOfDocument(c.html), c.inner) << c.html;
}

TEST(DirectPage, APageIsReadOnlyWhenItCanBeReadAsTheBrowserReadsIt)
{
    const std::string url = "http://h.example/d/p";
    EXPECT_EQ(DirectPageText("<meta charset=gbk><a href=x>\xD6\xD0</a><img src='/i.png'>", "text/html", url).value_or("-"),
              "<head><meta charset=\"gbk\"></head><body><a href=\"http://h.example/d/x\">\xD6\xD0</a>"
              "<img src=\"http://h.example/i.png\"></body>");
    EXPECT_EQ(DirectPageText("<base href='/b/'><a href=x></a>", "text/html; charset=utf-8", url).value_or("-"),
              "<head><base href=\"/b/\"></head><body><a href=\"http://h.example/b/x\"></a></body>");
    EXPECT_FALSE(DirectPageText("<p>no charset</p>", "text/html", url));
    EXPECT_FALSE(DirectPageText("<meta charset=utf-8>plain", "text/plain", url));
    EXPECT_FALSE(DirectPageText("<meta charset=utf-8><noscript><p>x</p></noscript>", "text/html", url));
    EXPECT_FALSE(DirectPageText("<meta charset=utf-8><a href='http://\xE4\xB8\xAD.cn/'>", "text/html", url));
}

TEST(DirectPage, RawTextAndNamespacedAttributesAreWrittenAsABrowserWritesThem)
{
    // The content of these is text to the parser, and innerHTML writes it back as
    // it stands, never escaped; attributes in the XML namespaces keep their prefix.
    const struct
    {
        std::string html, inner;
    } cases[] = {
        {"<iframe><b>&amp;</b></iframe>", "<head></head><body><iframe><b>&amp;</b></iframe></body>"},
        {"<xmp><b>&amp;</b></xmp>", "<head></head><body><xmp><b>&amp;</b></xmp></body>"},
        {"<noembed><b>&amp;</b></noembed>", "<head></head><body><noembed><b>&amp;</b></noembed></body>"},
        {"<noframes><b>&amp;</b></noframes>", "<head><noframes><b>&amp;</b></noframes></head><body></body>"},
        {"<plaintext><b>&amp;</b></plaintext>",
         "<head></head><body><plaintext><b>&amp;</b></plaintext></plaintext></body>"}, // the rest is its text
        {"<p>&lt;b&gt;</p>", "<head></head><body><p>&lt;b&gt;</p></body>"}, // and other text escaped
        {"<svg xml:lang=en xmlns:xlink='http://www.w3.org/1999/xlink' xmlns='http://www.w3.org/2000/svg'></svg>",
         "<head></head><body><svg xml:lang=\"en\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
         "xmlns=\"http://www.w3.org/2000/svg\"></svg></body>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InnerHtmlOfDocument(c.html), c.inner) << c.html;
}

namespace {

// Runs `work` on a thread with a small stack, as a recursion on a page's depth
// would overflow it long before a thread's usual 8 MB.
void onSmallStack(const std::function<void()>& work)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    auto call = [](void* w) -> void* {
        (*static_cast<const std::function<void()>*>(w))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, call, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

} // namespace

TEST(DirectPage, NoPageCanTakeMoreThanItsLimitsAndWhatIsPastThemIsLeftToTheBrowser)
{
    const std::string url = "http://h.example/";
    DirectRefusal why = DirectRefusal::None;

    // Nested deeper than a browser nests: its tree would be another. Written out by a
    // loop, whatever the depth.
    onSmallStack([&] {
        const std::string deep = RepeatedPage("<div>", 8000);
        EXPECT_FALSE(DirectPageText(deep, "text/html", url, &why));
        EXPECT_EQ(why, DirectRefusal::TooDeep);
        EXPECT_EQ(InnerHtmlOfDocument(deep).size(), 48u + 8000 * 11);
        // Within the limit it reads.
        EXPECT_TRUE(DirectPageText(RepeatedPage("<div>", 400), "text/html", url, &why));
        EXPECT_EQ(why, DirectRefusal::None);
    });

    // Markup whose parse takes far longer than its size: one element with 60,000
    // attributes (each looked for among the ones before), and 100,000 levels.
    EXPECT_FALSE(DirectPageText(ManyAttributesPage(60000), "text/html", url, &why));
    EXPECT_EQ(why, DirectRefusal::OverBudget);
    EXPECT_FALSE(DirectPageText(RepeatedPage("<div>", 100000), "text/html", url, &why));
    EXPECT_EQ(why, DirectRefusal::OverBudget);
    // Misnested formatting elements, cloned again at every step.
    EXPECT_FALSE(DirectPageText(RepeatedPage("<b><i><u><s>x</p>", 20000), "text/html", url, &why));
    EXPECT_EQ(why, DirectRefusal::OverBudget);

    // Past the size limit.
    EXPECT_FALSE(DirectPageText(RepeatedPage("x", kMaxDirectPageBytes), "text/html", url, &why));
    EXPECT_EQ(why, DirectRefusal::TooLarge);
}
