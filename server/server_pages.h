#pragma once

// The pages vexory-server shows to people (UTF-8 HTML).

namespace vexory::server::pages {

inline constexpr const char* kAdvert = R"html(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>Vexory</title>
<style>body{margin:0;height:60px;display:flex;align-items:center;justify-content:center;
font-family:"Noto Sans CJK SC",sans-serif;background:#eef6f1;color:#24543b;font-size:15px}</style></head>
<body>Vexory 正在为您监控网页 · 新记录会推送到您的手机 · 帮助见 {HELP}</body></html>
)html";

inline constexpr const char* kHelp = R"html(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>Vexory 使用帮助</title>
<style>body{font-family:"Noto Sans CJK SC",sans-serif;max-width:760px;margin:2em auto;line-height:1.7;color:#222}
code{background:#f3f3f3;padding:0 4px}</style></head><body>
<h1>Vexory 使用帮助</h1>
<h2>它做什么</h2>
<p>Vexory 在内置浏览器里打开您指定的网页，按刷新间隔反复读取，用“抓取公式”把页面切成一条条记录，
只保留新出现的记录，再用“验证公式”筛选，最后把结果显示在任务日志里、播放提示音；登录后还会推送到本服务，
由本服务转发到您的手机。</p>
<h2>第一步：注册并登录</h2>
<p>打开 <a href="/register">注册页面</a> 创建账户，然后在 Vexory 的登录面板输入昵称和密码。</p>
<h2>第二步：新建任务</h2>
<p>在任务列表点“新建”，填写网页地址，在浏览器里标记想要的数据，点“提取公式”得到抓取公式。
字段符写作 <code>{&gt;名称&lt;}</code>，通配符写作 <code>[*]</code>，索引级写作 <code>[&gt;1.2&lt;]</code>。</p>
<h2>第三步：执行</h2>
<p>勾选任务后点“执行”。每个任务有自己的浏览器和日志；新记录通过验证后会推送给您。</p>
<h2>收件箱</h2>
<p>每条推送都保存在您的收件箱里，管理员可以告诉您收件箱的地址。</p>
</body></html>
)html";

inline constexpr const char* kRegisterForm = R"html(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>注册 Vexory 账户</title>
<style>body{font-family:"Noto Sans CJK SC",sans-serif;max-width:420px;margin:3em auto}
label{display:block;margin:.8em 0 .2em}input{width:100%;padding:.4em;font-size:1em}
button{margin-top:1.2em;padding:.5em 2em;font-size:1em}</style></head><body>
<h1>注册 Vexory 账户</h1>
<form method="post" action="/register">
<label for="nick">昵称</label><input id="nick" name="nick" maxlength="32" required>
<label for="password">密码</label><input id="password" name="password" type="password" required>
<label for="password2">再输入一次密码</label><input id="password2" name="password2" type="password" required>
<button type="submit">注册</button>
</form></body></html>
)html";

} // namespace vexory::server::pages
