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

namespace vexory::texts {

// The wizard.
inline const QString kWizardLoading = QStringLiteral("载入中..");
inline const QString kWizardGuideLoaded = QStringLiteral("引导URL已载入！请点击下一步..");
inline const QString kWizardPageLoaded = QStringLiteral("网页URL已载入！请点击下一步..");
inline const QString kWizardSourceDone = QStringLiteral("获取源码成功！请关闭窗口或标记所需数据..");
inline const QString kWizardSourceFailed = QStringLiteral("获取源码失败！请稍后再次点击..");
inline const QString kWizardClicked = QStringLiteral("页面元素已点击！请点击下一步..");
inline const QString kWizardClickFailed = QStringLiteral("获取页面元素失败！请稍后重试..");

// Marking and derivation.
inline const QString kSelectFirst = QStringLiteral("请先选择所需的数据！");
inline const QString kAddFieldFirst = QStringLiteral("请先添加字段符！");
inline const QString kMarkFirst = QStringLiteral("请先在页面上标记出需要抓取的数据！");
inline const QString kDeriveFailed = QStringLiteral("错误：提取公式失败！");
inline const QString kDeriveReplace = QStringLiteral("提取到公式 ：\"%1\"，替换现有公式？");

} // namespace vexory::texts
