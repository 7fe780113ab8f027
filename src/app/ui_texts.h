#pragma once

// The main window's texts (widgets take QString).

#include <QString>

namespace vexory::texts {

inline const QString kAppTitle = QStringLiteral("Vexory");
// The program's version as the task list shows it.
inline const QString kVersionLabel = QStringLiteral("v 1.9.1");
inline const QString kNotLoggedIn = QStringLiteral("未登录");
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
inline const QString kStoreUnreadable = QStringLiteral("错误:文件内部错误，无法读取...");
inline const QString kStoreWriteFailed = QStringLiteral("错误：任务文件保存失败（%1）");
inline const QString kEditorInputDropped = QStringLiteral("程序被终止，编辑器中未保存的内容已放弃");
inline const QString kStopRun = QStringLiteral("停止");
inline const QString kStopRunTip = QStringLiteral("停止运行，回到任务列表");
inline const QString kStopFailed = QStringLiteral("错误：监控线程未能停止");
inline const QString kStoreKeptAs = QStringLiteral("原文件已另存为：%1");

} // namespace vexory::texts
