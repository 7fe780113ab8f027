// The program keeps its texts as code page 936 bytes; each must be the exact GBK
// form of the text it stands for.

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
    };
    for (const auto& [gbk, utf8] : cases)
        EXPECT_EQ(GbkToUtf8(gbk), utf8);
}
