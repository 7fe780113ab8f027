#pragma once

// The pages vexory-server shows to people (UTF-8 HTML).

namespace vexory::server::pages {

inline constexpr const char* kAdvert = R"html(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>Vexory</title>
<style>body{margin:0;height:60px;display:flex;align-items:center;justify-content:center;
font-family:"Noto Sans CJK SC",sans-serif;background:#eef6f1;color:#24543b;font-size:15px}</style></head>
<body>{TEXT} · 帮助见 {HELP}</body></html>
)html";

inline constexpr const char* kHelp = R"html(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1"><title>Vexory 使用帮助</title>
<style>body{font-family:"Noto Sans CJK SC",sans-serif;max-width:760px;margin:2em auto;line-height:1.7;color:#222}
code{background:#f3f3f3;padding:0 4px}</style></head><body>
<h1>Vexory 使用帮助</h1>
<h2>它做什么</h2>
<p>Vexory 在内置浏览器里打开您指定的网页，按刷新间隔反复读取，用“抓取公式”把页面切成一条条记录，
只保留新出现的记录，再用“验证公式”筛选，最后把结果显示在任务日志里、播放提示音；登录后还会推送到本服务，
由本服务转发到您的手机。</p>
<h2>第一步：注册并登录</h2>
<p>打开 <a href="/register">注册页面</a> 创建账户（密码仅限数字和大小写字母），然后在 Vexory 的登录面板输入昵称和密码。</p>
<h2>第二步：绑定推送渠道</h2>
<p>在 <a href="/account">账户页</a> 登录，选择企业微信、钉钉、飞书、Server酱（微信）、PushPlus、Bark、ntfy、Gotify、
Telegram 或电子邮件，填写机器人地址或 key，点“发送测试消息”确认手机能收到。以后每条新记录都会推送到这些渠道。</p>
<h2>第三步：新建任务</h2>
<p>在任务列表点“新建”，填写网页地址，在浏览器里标记想要的数据，点“提取公式”得到抓取公式。
字段符写作 <code>{&gt;名称&lt;}</code>，通配符写作 <code>[*]</code>，索引级写作 <code>[&gt;1.2&lt;]</code>。</p>
<h2>第四步：执行</h2>
<p>勾选任务后点“执行”。每个任务有自己的浏览器和日志；新记录通过验证后会推送给您。</p>
<h2>收件箱</h2>
<p>每条推送都保存在您的收件箱里，账户页上有收件箱的地址，也能看到每条结果在每个渠道的发送状态。</p>
</body></html>
)html";

} // namespace vexory::server::pages
