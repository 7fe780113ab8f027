// The program keeps its texts as code page 936 bytes; each must be the exact GBK
// form of the text it stands for.

#include "app/app_texts.h"
#include "base/base_texts.h"
#include "formula/formula_texts.h"
#include "model/model_texts.h"
#include "platform/codepage.h"
#include "platform/platform_texts.h"

#include <gtest/gtest.h>

using namespace vexory;

TEST(Texts, AreTheGbkFormOfTheirText)
{
    const std::pair<std::string_view, const char*> cases[] = {
        {texts::kBlockFull, "■"},
        {texts::kBlockEmpty, "□"},
        {texts::kStoreReadError, "错误:文件内部错误，无法读取..."},
        {texts::kPluginTitle, "Vexory外挂 - "},
        {texts::kProgramEnd, "程序结束"},
        {texts::kReadableAnd, "_并且_"},
        {texts::kReadableOr, "_或者_"},
        {texts::kNoEndLeft, " ∞:∞:∞ ]"},
    };
    for (const auto& [gbk, utf8] : cases)
        EXPECT_EQ(GbkToUtf8(gbk), utf8);
    // File names are UTF-8.
    EXPECT_EQ(texts::kAutostartFile, "Vexory开机启动.desktop");
    EXPECT_EQ(texts::kAutostartNotDesktop, "快捷方式的扩展名必须是 ′′DESKTOP′′!");
}
