#pragma once

// Why a page did not load, in the user's words (widgets take QString).

#include <QString>

namespace vexory::texts {

inline const QString kNoSuchHost = QStringLiteral("找不到这个网站（域名无法解析）");
inline const QString kRefused = QStringLiteral("连接被拒绝");
inline const QString kTimedOut = QStringLiteral("连接超时");
inline const QString kUnreachable = QStringLiteral("网络不可达");
inline const QString kBadUrl = QStringLiteral("网址无效");
inline const QString kNoAnswer = QStringLiteral("服务器没有回答");
inline const QString kHttpStatus = QStringLiteral("服务器回答 HTTP %1");
inline const QString kTextTooLarge = QStringLiteral("内容超过 16 MB，没有读取");
inline const QString kEmptyText = QStringLiteral("服务器回答的内容为空");

} // namespace vexory::texts
