#pragma once

// The main window's texts (widgets take QString).

#include <QString>

namespace vexory::texts {

inline const QString kAppTitle = QStringLiteral("Vexory");
// The program's version as the task list shows it.
inline const QString kVersionLabel = QStringLiteral("v 1.9.1");
inline const QString kNotLoggedIn = QStringLiteral("未登录");
// Where a logged-in user binds the channels results go to (a link that shows its code).
inline const QString kPhoneLink = QStringLiteral("手机推送：<a href=\"%1\">%1</a>");
inline const QString kPhoneLinkTip = QStringLiteral("打开二维码，在手机上绑定推送渠道");
inline const QString kLoggedIn = QStringLiteral("已登录");
inline const QString kCaptionNotLoggedIn = QStringLiteral("  -  未登录");
inline const QString kCaptionLoggedIn = QStringLiteral("  -  已登录");
inline const QString kNewVersion = QStringLiteral("新版本已发布请及时下载更新");
inline const QString kTotal = QStringLiteral("任务总数： [ %1 ]");
inline const QString kRunning = QStringLiteral("运行中： [ %1 ]");
inline const QString kWaiting = QStringLiteral("等待中： [ %1 ]");
inline const QString kRunTime = QStringLiteral("运行时间： ");
inline const QString kRunTimeStart = QStringLiteral("运行时间： [ 00:00:00 | ∞:∞:∞ ]");
inline const QString kNoTaskChosen = QStringLiteral("没有选中的任务！");
inline const QString kNoTaskMade = QStringLiteral("没有创建任务！");
inline const QString kNicknameLogout = QStringLiteral("昵称错误，退出登录！");
inline const QString kElsewhereLogout = QStringLiteral("账户异地登录，退出登录！");

// Automatic login messages.
inline const QString kAutoLoginNoAnswer = QStringLiteral("远程错误，无法自动登录！");
inline const QString kAutoLoginNotRegistered = QStringLiteral("未注册用户，无法自动登录！");
inline const QString kAutoLoginWrongPassword = QStringLiteral("密码错误，无法自动登录！");
inline const QString kAutoLoginServerError = QStringLiteral("服务器错误，无法自动登录！");
inline const QString kStoreWriteFailed = QStringLiteral("错误：任务文件保存失败（%1）");
inline const QString kEditorInputDropped = QStringLiteral("程序被终止，编辑器中未保存的内容已放弃");
inline const QString kStopRun = QStringLiteral("停止");
inline const QString kStopRunTip = QStringLiteral("停止运行，回到任务列表");
inline const QString kStopFailed = QStringLiteral("错误：监控线程未能停止");
// Logged in without the multi-task right, with more than one task ticked.
inline const QString kOnlyOneTaskRuns =
    QStringLiteral("您的账户没有多任务权限：只运行“%1”，其余勾选的任务不会运行：%2");
inline const QString kStoreKeptAs = QStringLiteral("原文件已另存为：%1");
// A store that could neither be read nor copied aside: %1 why, %2 where.
inline const QString kStoreNotReadable =
    QStringLiteral("错误：无法读取任务文件，%1。\n位置：%2\n为了不覆盖其中的任务，本次运行不会写入这个文件，"
                   "本次的修改不会保存。请改正后重新启动 Vexory。");
inline const QString kStoreNotStored = QStringLiteral("任务文件无法读取（%1），修改没有保存到 %2");
inline const QString kStoreNoPermission = QStringLiteral("没有读取它的权限（它可能属于另一个用户，例如用 sudo 运行过）");
inline const QString kStoreIsFolder = QStringLiteral("这是一个文件夹，不是任务文件");
inline const QString kStoreDamagedNoCopy = QStringLiteral("文件内容已损坏，而且无法在同一文件夹里另存一份副本");
inline const QString kStoreSystemError = QStringLiteral("系统错误 %1");

// The login panel, the task list and the options panel.
inline const QString kLoginGroup = QStringLiteral("[ 登录与注册 ]");
inline const QString kNicknameCaption = QStringLiteral("昵称 ");
inline const QString kNicknameHint = QStringLiteral("请输入昵称");
inline const QString kNicknameTip = QStringLiteral("请输入Vexory公众号的昵称");
inline const QString kPasswordCaption = QStringLiteral("密码   ");
inline const QString kPasswordHint = QStringLiteral("仅限数字和大小写字母");
inline const QString kLoginButton = QStringLiteral("登录");
inline const QString kRegisterButton = QStringLiteral("注册");
inline const QString kNicknameEmpty = QStringLiteral("用户名不能为空！");
inline const QString kPasswordEmpty = QStringLiteral("密码不能为空！");
inline const QString kPasswordCharacters = QStringLiteral("密码仅限数字和大小写字母！");
inline const QString kLoginNoAnswer = QStringLiteral("远程错误，无法登录！");
inline const QString kLoginNotRegistered = QStringLiteral("未注册用户，无法登录！");
inline const QString kLoginWrongPassword = QStringLiteral("密码错误，无法登录！");
inline const QString kLoginServerError = QStringLiteral("服务器错误，无法登录！");
inline const QString kOverviewCaptions[11] = {
    QStringLiteral("任务名称："), QStringLiteral("导引URL："),  QStringLiteral("网页URL："),
    QStringLiteral("页面元素："), QStringLiteral("连接超时："), QStringLiteral("刷新频率："),
    QStringLiteral("抓取公式："), QStringLiteral("更新检查："), QStringLiteral("清除标记："),
    QStringLiteral("验证公式："), QStringLiteral("推送外挂："),
};
inline const QString kOverviewGroup = QStringLiteral("[ 任务概要 ]");
inline const QString kManageGroup = QStringLiteral("[ 任务管理 ]");
inline const QString kExecute = QStringLiteral("执行");
inline const QString kSettings = QStringLiteral("设置");
inline const QString kNewTask = QStringLiteral("新建");
inline const QString kModifyTask = QStringLiteral("修改");
inline const QString kDeleteTask = QStringLiteral("删除");
inline const QString kMoveUp = QStringLiteral("上移(点选)");
inline const QString kMoveDown = QStringLiteral("下移(点选)");
inline const QString kTickAll = QStringLiteral("全选(勾选)");
inline const QString kInvertTicks = QStringLiteral("反选(勾选)");
inline const QString kClone = QStringLiteral("克隆(点选)");
inline const QString kImport = QStringLiteral("导入");
inline const QString kExportTicked = QStringLiteral("另存(勾选)为...");
inline const QString kNotSet = QStringLiteral("未设置");
inline const QString kSecondsValue = QStringLiteral("%1 秒");
inline const QString kYes = QStringLiteral("是");
inline const QString kNo = QStringLiteral("否");
inline const QString kChooseTaskFirst = QStringLiteral("先选择要修改的任务！");
inline const QString kTickTasksFirst = QStringLiteral("请先勾选需要另存的任务！");
inline const QString kExportCaption = QStringLiteral("%1个监控任务另存为");
inline const QString kExportAskAccount = QStringLiteral("另存配置文件，是否保存用户名、密码？");
inline const QString kLoginSettingsGroup = QStringLiteral("[ 登录设置 ]");
inline const QString kRelogin = QStringLiteral("重新登录");
inline const QString kAutoEndGroup = QStringLiteral("[ 自动结束时间 ]");
inline const QString kAutoEndOff = QStringLiteral("不启用");
inline const QString kHoursStart = QStringLiteral("200小时后");
inline const QString kClockStart = QStringLiteral("24 点整");
inline const QString kShutdownAfterEnd = QStringLiteral("结束后关闭计算机");
inline const QString kRunAtLogin = QStringLiteral("开机自动执行");
inline const QString kShutdownAfterRemote = QStringLiteral("远程结束后关闭计算机");
inline const QString kRunInTray = QStringLiteral("关闭窗口后在托盘运行");
inline const QString kNoTray = QStringLiteral("桌面没有系统托盘：关闭窗口会结束运行。");
inline const QString kTrayNotKept = QStringLiteral("无法保存托盘设置（~/.config/vexory/desktop.conf）！");
// The tray icon of a run.
inline const QString kTrayTip = QStringLiteral("Vexory - 正在监控");
inline const QString kTrayHidden = QStringLiteral("窗口已关闭，监控仍在运行。点击托盘图标显示窗口。");
inline const QString kTrayShow = QStringLiteral("显示窗口");
inline const QString kTrayEndRun = QStringLiteral("结束运行");
inline const QString kTrayQuit = QStringLiteral("退出程序");
inline const QString kOk = QStringLiteral("确定");
inline const QString kHoursLater = QStringLiteral("%1小时后");
inline const QString kOClock = QStringLiteral("%1 点整");

} // namespace vexory::texts
