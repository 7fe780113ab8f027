#pragma once

// The task editor's window texts (widgets take QString).

#include <QString>

namespace vexory::texts {

inline const QString kEditorCaption = QStringLiteral("Vexory  -  任务编辑器");
inline const QString kNameEmpty = QStringLiteral("任务名称不能为空！");
inline const QString kCloseUnsaved = QStringLiteral("有未保存的内容，确定关闭吗?");
inline const QString kNewTaskName = QStringLiteral("监控任务-");
inline const QString kNoGrabFormula = QStringLiteral("这个任务还没有抓取公式，执行时不会得到任何记录。");

// Formula sharing.
inline const QString kShareLoginFirst = QStringLiteral("请先登录");
inline const QString kShareUrlFirst = QStringLiteral("请先正确填写URL");
inline const QString kShareAsk = QStringLiteral("分享数据抓取公式?");
inline const QString kShareUploaded = QStringLiteral("抓取公式上传成功，等待审核！");
inline const QString kShareExists = QStringLiteral("抓取公式已存在！");
inline const QString kShareUploadFailed = QStringLiteral("远程错误，未能上传！");
inline const QString kShareRemoteError = QStringLiteral("远程错误！");
inline const QString kShareNone = QStringLiteral("没有相关的抓取公式！");
inline const QString kShareNoConnection = QStringLiteral("远程连接错误！");

} // namespace vexory::texts

namespace vexory::texts {

// The wizard.
inline const QString kWizardLoading = QStringLiteral("载入中..");
inline const QString kWizardGuideLoaded = QStringLiteral("引导URL已载入！请点击下一步..");
inline const QString kWizardPageLoaded = QStringLiteral("网页URL已载入！请点击下一步..");
inline const QString kWizardSourceDone = QStringLiteral("获取源码成功！请关闭窗口或标记所需数据..");
inline const QString kWizardSourceFailed = QStringLiteral("获取源码失败！请稍后再次点击..");
// %1: why the page did not load (no such host, refused, an HTTP status, ...).
inline const QString kWizardLoadFailed = QStringLiteral("网页载入失败（%1）！请检查网址后点击下一步重试..");
inline const QString kWizardNothingYet = QStringLiteral("网页载入超时，页面尚未显示！请点击下一步继续等待..");
inline const QString kWizardClicked = QStringLiteral("页面元素已点击！请点击下一步..");
inline const QString kWizardClickFailed = QStringLiteral("获取页面元素失败！请稍后重试..");

// Marking and derivation.
inline const QString kSelectFirst = QStringLiteral("请先选择所需的数据！");
inline const QString kMarkFailed = QStringLiteral("标记失败：所选内容无法标记（如输入框中的文字），或网页没有及时响应！");
inline const QString kMarkedSourceFailed = QStringLiteral("已标记，但获取源码失败！请再次点击标记或清除..");
inline const QString kAddFieldFirst = QStringLiteral("请先添加字段符！");
inline const QString kMarkFirst = QStringLiteral("请先在页面上标记出需要抓取的数据！");
inline const QString kFieldNamesLabel = QStringLiteral("字段名：");
inline const QString kFieldNamesHint =
    QStringLiteral("提取公式时，每个标记的字段用这里的名称；日志和推送里显示为“名称=值”。");
inline const QString kDeriveFailed = QStringLiteral("错误：提取公式失败！");
inline const QString kDeriveReplace = QStringLiteral("提取到公式 ：\"%1\"，替换现有公式？");

// The editor panel's captions, buttons, tabs and context menu.
inline const QString kTaskNameCaption = QStringLiteral("任务名称");
inline const QString kGuideUrlCaption = QStringLiteral("导引URL");
inline const QString kPageUrlCaption = QStringLiteral("网页URL");
inline const QString kElementCaption = QStringLiteral("页面元素ID");
inline const QString kRefreshCaption = QStringLiteral("刷新频率");
inline const QString kSecondsUnit = QStringLiteral("秒");
inline const QString kTimeoutCaption = QStringLiteral("连接超时");
inline const QString kTestSource = QStringLiteral("测试1>>");
inline const QString kGrabGroup = QStringLiteral("[ 数据抓取公式 ]");
inline const QString kFieldMarkerButton = QStringLiteral("字段符{><}");
inline const QString kWildcardButton = QStringLiteral("通配符[*]");
inline const QString kShareButton = QStringLiteral("共享");
inline const QString kTestGrab = QStringLiteral("测试2>>");
inline const QString kConfirmFormula = QStringLiteral("确定 ∨");
inline const QString kClearTags = QStringLiteral("清除HTML标签");
inline const QString kUpdateCheckCaption = QStringLiteral("数据更新检查");
inline const QString kCompareAll = QStringLiteral("比较所有记录");
inline const QString kCompareLastScreen = QStringLiteral("比较上一屏记录");
inline const QString kVerifyGroup = QStringLiteral("[ 数据验证公式 ]");
inline const QString kAddRow = QStringLiteral("增加");
inline const QString kTestVerify = QStringLiteral("测试3>>");
inline const QString kNotifyInterval = QStringLiteral("每次通知至少间隔                         小时");
inline const QString kPushToPlugin = QStringLiteral("推送给外挂");
inline const QString kSaveAndClose = QStringLiteral("保存并关闭");
inline const QString kTestResultsTab = QStringLiteral("测试结果");
inline const QString kPseudoCodeTab = QStringLiteral("伪代码");
inline const QString kBrowserTab = QStringLiteral("浏览器");
inline const QString kMenuCut = QStringLiteral("剪切");
inline const QString kMenuCopy = QStringLiteral("复制");
inline const QString kMenuPaste = QStringLiteral("粘贴");
inline const QString kDelete = QStringLiteral("删除");
inline const QString kMenuSelectAll = QStringLiteral("全选");
inline const QString kMenuSend = QStringLiteral("传送");
inline const QString kMenuRecolour = QStringLiteral("刷新");
inline const QString kMenuFieldMarker = QStringLiteral("字段符");
inline const QString kMenuWildcard = QStringLiteral("通配符");
inline const QString kMarkButton = QStringLiteral("标记");

// Verification rows, the marking toolbar, the wizard's windows.
inline const QString kAnd = QStringLiteral("并且");
inline const QString kOr = QStringLiteral("或者");
inline const QString kPlus = QStringLiteral("加");
inline const QString kMinus = QStringLiteral("减");
inline const QString kTimes = QStringLiteral("乘");
inline const QString kDividedBy = QStringLiteral("除");
inline const QString kEquals = QStringLiteral("等于");
inline const QString kLessThan = QStringLiteral("小于");
inline const QString kGreaterThan = QStringLiteral("大于");
inline const QString kNotEqual = QStringLiteral("不等于");
inline const QString kContains = QStringLiteral("包含");
inline const QString kNotContains = QStringLiteral("不包含");
inline const QString kFindHint = QStringLiteral(" 查找...");
inline const QString kClearMarks = QStringLiteral("清除");
inline const QString kDeriveFormula = QStringLiteral("提取公式");
inline const QString kKeepTestResults = QStringLiteral("保存测试结果");
inline const QString kNextStep = QStringLiteral("下一步");
inline const QString kSplashTagline = QStringLiteral("网页记录监控 · 新数据推送到手机");
inline const QString kSplashLoading = QStringLiteral("正在载入任务…");
inline const QString kRegisterCaption = QStringLiteral("微信扫码完成注册");
inline const QString kRegisterThenBind = QStringLiteral("注册后在账户页绑定推送渠道，新记录才会推送到您的手机：");
inline const QString kAccountCaption = QStringLiteral("扫码绑定手机推送");
inline const QString kAccountNote =
    QStringLiteral("在账户页登录后，绑定企业微信、钉钉、飞书、微信、Telegram 或邮箱等渠道");
inline const QString kOptionsCaption = QStringLiteral("Vexory  -  设置");

} // namespace vexory::texts
