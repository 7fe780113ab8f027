#pragma once

// The runner panel's texts (widgets take QString).

#include <QString>

namespace vexory::texts {

inline const QString kLoading = QStringLiteral("任务载入中");
inline const QString kRefreshing = QStringLiteral("刷新状态");
inline const QString kProgressStart = QStringLiteral("■□□□□□□□□");
inline const QString kZeroTime = QStringLiteral("[ 00:00 ]");
inline const QString kStart = QStringLiteral("开始");
inline const QString kGoTo = QStringLiteral("转至");
inline const QString kReload = QStringLiteral("刷新");
inline const QString kMark = QStringLiteral("标记");
inline const QString kVerified = QStringLiteral("数据验证通过");
inline const QString kSent = QStringLiteral("数据已发送");
inline const QString kNotSent = QStringLiteral("数据未发送");
inline const QString kWarning = QStringLiteral("警告");
// A page load that failed, and why.
inline const QString kLoadFailed = QStringLiteral("网页载入失败：%1");
inline const QString kNicknameError = QStringLiteral("\r\n昵称错误，退出登录！\r\n");
// How the task's page is read: without the browser, or by it.
inline const QString kReadDirect = QStringLiteral("直接读取");
inline const QString kReadBrowser = QStringLiteral("浏览器读取");
inline const QString kLoggedInElsewhere = QStringLiteral("\r\n账户异地登录，退出登录！\r\n");

} // namespace vexory::texts
