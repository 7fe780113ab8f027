#pragma once

// The task editor's window texts (widgets take QString).

#include <QString>

namespace vexory::texts {

inline const QString kEditorCaption = QStringLiteral("Vexory  -  任务编辑器");
inline const QString kNameEmpty = QStringLiteral("任务名称不能为空！");
inline const QString kCloseUnsaved = QStringLiteral("有未保存的内容，确定关闭吗?");
inline const QString kNewTaskName = QStringLiteral("监控任务-");

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
