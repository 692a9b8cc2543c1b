<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>quorin</name>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>客户端已经在运行，请先关闭或者稍候再试！</source>
        <translation>The client is already running. Close it or try again later.</translation>
    </message>
    <message>
        <source>最大化</source>
        <translation>Maximise</translation>
    </message>
    <message>
        <source>还原</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>举手发言</source>
        <translation>Raise hand</translation>
    </message>
    <message>
        <source>放下手</source>
        <translation>Lower hand</translation>
    </message>
    <message>
        <source>举手列表</source>
        <translation>Raised hands</translation>
    </message>
    <message>
        <source>举手列表（%1人）</source>
        <translation>Raised hands (%1)</translation>
    </message>
    <message>
        <source>课堂正在进行，确定要离开吗？</source>
        <translation>The class is in progress. Do you really want to leave?</translation>
    </message>
    <message>
        <source>快捷键</source>
        <translation>Keyboard shortcuts</translation>
    </message>
    <message>
        <source>打开或关闭麦克风</source>
        <translation>Microphone on or off</translation>
    </message>
    <message>
        <source>打开或关闭摄像头</source>
        <translation>Camera on or off</translation>
    </message>
    <message>
        <source>举手或放下手</source>
        <translation>Raise or lower your hand</translation>
    </message>
    <message>
        <source>选中的画面全屏（再按一次还原）</source>
        <translation>Full screen for the selected picture (again to return)</translation>
    </message>
    <message>
        <source>离开课堂</source>
        <translation>Leave the class</translation>
    </message>
    <message>
        <source>显示本列表</source>
        <translation>Show this list</translation>
    </message>
    <message>
        <source>没有可以全屏显示的画面</source>
        <translation>There is no picture to show in full screen</translation>
    </message>
    <message>
        <source>所有人</source>
        <translation>Everyone</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>你</source>
        <translation>you</translation>
    </message>
    <message>
        <source>大家</source>
        <translation>everyone</translation>
    </message>
    <message>
        <source>&lt;b&gt;&amp;lt;%1&amp;gt;&lt;/b&gt; 对 &lt;b&gt;&amp;lt;%2&amp;gt;&lt;/b&gt; 说：%3</source>
        <translation>&lt;b&gt;&amp;lt;%1&amp;gt;&lt;/b&gt; to &lt;b&gt;&amp;lt;%2&amp;gt;&lt;/b&gt;: %3</translation>
    </message>
    <message>
        <source>我 对 %1 说：%2</source>
        <translation>I to %1: %2</translation>
    </message>
    <message>
        <source>撤消(&amp;U)	Ctrl+Z </source>
        <translation>&amp;Undo	Ctrl+Z </translation>
    </message>
    <message>
        <source>剪切(&amp;X)	Ctrl+X </source>
        <translation>Cu&amp;t	Ctrl+X </translation>
    </message>
    <message>
        <source>复制(&amp;C)	Ctrl+C </source>
        <translation>&amp;Copy	Ctrl+C </translation>
    </message>
    <message>
        <source>粘贴(&amp;P)	Ctrl+V </source>
        <translation>&amp;Paste	Ctrl+V </translation>
    </message>
    <message>
        <source>清除(&amp;L) </source>
        <translation>C&amp;lear </translation>
    </message>
    <message>
        <source>全选(&amp;A)	Ctrl+A </source>
        <translation>Select &amp;all	Ctrl+A </translation>
    </message>
    <message>
        <source>字体(&amp;F) </source>
        <translation>&amp;Font </translation>
    </message>
    <message>
        <source>显示详细信息</source>
        <translation>Show details</translation>
    </message>
    <message>
        <source>保存为文本…</source>
        <translation>Save as text…</translation>
    </message>
    <message>
        <source>保存为网页…</source>
        <translation>Save as web page…</translation>
    </message>
    <message>
        <source>保存聊天记录</source>
        <translation>Save the chat log</translation>
    </message>
    <message>
        <source>聊天记录_%1</source>
        <translation>chat_%1</translation>
    </message>
    <message>
        <source>文本文件 (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>网页 (*.html)</source>
        <translation>Web pages (*.html)</translation>
    </message>
    <message>
        <source>聊天记录已保存在 %1</source>
        <translation>Chat log saved in %1</translation>
    </message>
    <message>
        <source>无法保存聊天记录：%1</source>
        <translation>Cannot save the chat log: %1</translation>
    </message>
    <message>
        <source>[表情]</source>
        <translation>[face]</translation>
    </message>
    <message>
        <source>消息记录</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>聊天和通知；右键可复制、保存或清除</source>
        <translation>Chat and notices; right click to copy, save or clear</translation>
    </message>
    <message>
        <source>我对</source>
        <translation>To</translation>
    </message>
    <message>
        <source>私聊</source>
        <translation>Private</translation>
    </message>
    <message>
        <source>输入消息太长了,无法发送!</source>
        <translation>The message is too long to send!</translation>
    </message>
    <message>
        <source>数据无法发送出去, 内存不足!</source>
        <translation>Cannot send: out of memory!</translation>
    </message>
    <message>
        <source>%02d:%02d:%02d &lt;我&gt;对&lt;%s&gt;说：</source>
        <translation>%02d:%02d:%02d &lt;me&gt; to &lt;%s&gt;:</translation>
    </message>
    <message>
        <source>接收人已离开，消息将发给所有人</source>
        <translation>The recipient has left; the message goes to everyone</translation>
    </message>
    <message>
        <source>【私聊】</source>
        <translation>[private] </translation>
    </message>
    <message>
        <source>%02d:%02d:%02d &lt;%s&gt;对&lt;%s&gt;说：</source>
        <translation>%02d:%02d:%02d &lt;%s&gt; to &lt;%s&gt;:</translation>
    </message>
    <message>
        <source>%02d:%02d:%02d：</source>
        <translation>%02d:%02d:%02d: </translation>
    </message>
    <message>
        <source>[表情%d]</source>
        <translation>[face %d]</translation>
    </message>
    <message>
        <source>（我）</source>
        <translation> (me)</translation>
    </message>
    <message>
        <source> [发起人]</source>
        <translation> [host]</translation>
    </message>
    <message>
        <source> [麦]</source>
        <translation> [mic]</translation>
    </message>
    <message>
        <source> [摄]</source>
        <translation> [cam]</translation>
    </message>
    <message>
        <source> [举手]</source>
        <translation> [hand]</translation>
    </message>
    <message>
        <source>麦克风</source>
        <translation>Microphone</translation>
    </message>
    <message>
        <source>房间人数：%1人    发起人：%2    音量：%3</source>
        <translation>In the room: %1    Host: %2    Volume: %3</translation>
    </message>
    <message>
        <source>音频设置</source>
        <translation>Audio setup</translation>
    </message>
    <message>
        <source>录音设备</source>
        <translation>Recording device</translation>
    </message>
    <message>
        <source>播放设备</source>
        <translation>Playback device</translation>
    </message>
    <message>
        <source>视频设置</source>
        <translation>Video setup</translation>
    </message>
    <message>
        <source>摄像头</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>审批</source>
        <translation>Approval</translation>
    </message>
    <message>
        <source>你确定取消%1的发言权利？</source>
        <translation>Take the right to speak away from %1?</translation>
    </message>
    <message>
        <source>你确定让%1发言？</source>
        <translation>Let %1 speak?</translation>
    </message>
    <message>
        <source>%1申请发言，是否允许？</source>
        <translation>%1 asks to speak. Allow?</translation>
    </message>
    <message>
        <source>允许发言</source>
        <translation>Allow to speak</translation>
    </message>
    <message>
        <source>收回发言</source>
        <translation>Take speech back</translation>
    </message>
    <message>
        <source>移出课堂…</source>
        <translation>Remove from the class…</translation>
    </message>
    <message>
        <source>音量：%1%</source>
        <translation>Volume: %1%</translation>
    </message>
    <message>
        <source>确定将%1移出课堂？</source>
        <translation>Remove %1 from the class?</translation>
    </message>
    <message>
        <source>举手人</source>
        <translation>Who</translation>
    </message>
    <message>
        <source>举手时间</source>
        <translation>Since</translation>
    </message>
    <message>
        <source>已等待</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>全部收回发言</source>
        <translation>Take everybody's speech back</translation>
    </message>
    <message>
        <source>现在没有人举手</source>
        <translation>No hand is raised</translation>
    </message>
    <message>
        <source>%1分%2秒</source>
        <translation>%1 min %2 s</translation>
    </message>
    <message>
        <source>发起人</source>
        <translation>host</translation>
    </message>
    <message>
        <source>学员</source>
        <translation>student</translation>
    </message>
    <message>
        <source>我</source>
        <translation>me</translation>
    </message>
    <message>
        <source>麦克风开</source>
        <translation>microphone on</translation>
    </message>
    <message>
        <source>麦克风关</source>
        <translation>microphone off</translation>
    </message>
    <message>
        <source>视频已打开</source>
        <translation>video open</translation>
    </message>
    <message>
        <source>有摄像头</source>
        <translation>has a camera</translation>
    </message>
    <message>
        <source>没有摄像头</source>
        <translation>no camera</translation>
    </message>
    <message>
        <source>举手中</source>
        <translation>hand raised</translation>
    </message>
    <message>
        <source>可以发言</source>
        <translation>may speak</translation>
    </message>
    <message>
        <source>音量%1%</source>
        <translation>volume %1%</translation>
    </message>
    <message>
        <source>单击图标：麦克风、摄像头、举手；右键：更多操作</source>
        <translation>Click the icons: microphone, camera, hand; right click: more</translation>
    </message>
    <message>
        <source>空位</source>
        <translation>empty place</translation>
    </message>
    <message>
        <source>课程名称：（无）</source>
        <translation>Course: (none)</translation>
    </message>
    <message>
        <source>发起人：%1</source>
        <translation>Host: %1</translation>
    </message>
    <message>
        <source>房间人数：%1人</source>
        <translation>In the room: %1</translation>
    </message>
    <message>
        <source>静音</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>声音输出禁止</source>
        <translation>Sound output off</translation>
    </message>
    <message>
        <source>声音输出开启</source>
        <translation>Sound output on</translation>
    </message>
    <message>
        <source>提示：声卡处于无声状态</source>
        <translation>Note: the sound card is muted</translation>
    </message>
    <message>
        <source>默认设备</source>
        <translation>Default device</translation>
    </message>
    <message>
        <source>音频设备</source>
        <translation>Audio devices</translation>
    </message>
    <message>
        <source>调节(&amp;I)</source>
        <translation>Adjust (&amp;I)</translation>
    </message>
    <message>
        <source>调节(&amp;O)</source>
        <translation>Adjust (&amp;O)</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>没有找到音量控制程序（pavucontrol 或 alsamixer），请安装后再试。</source>
        <translation>No volume control program found (pavucontrol or alsamixer). Install one and try again.</translation>
    </message>
    <message>
        <source>登录成功！</source>
        <translation>Logged in!</translation>
    </message>
    <message>
        <source>登录失败: %s</source>
        <translation>Login failed: %s</translation>
    </message>
    <message>
        <source>登出成功</source>
        <translation>Logged out</translation>
    </message>
    <message>
        <source>未检测到摄像头设备</source>
        <translation>No camera found</translation>
    </message>
    <message>
        <source>申请发言审批通过</source>
        <translation>Your request to speak was approved</translation>
    </message>
    <message>
        <source>本地麦克风已关闭</source>
        <translation>Your microphone is off</translation>
    </message>
    <message>
        <source>本地麦克风已开启</source>
        <translation>Your microphone is on</translation>
    </message>
    <message>
        <source>你没有发言的权限</source>
        <translation>You may not speak</translation>
    </message>
    <message>
        <source>没有找到摄像头,请确认是否与电脑正常连接!</source>
        <translation>No camera found. Check that it is connected to the computer!</translation>
    </message>
    <message>
        <source>本地摄像头已开启</source>
        <translation>Your camera is on</translation>
    </message>
    <message>
        <source>无法开启本地摄像头</source>
        <translation>Cannot start your camera</translation>
    </message>
    <message>
        <source>本地摄像头已关闭</source>
        <translation>Your camera is off</translation>
    </message>
    <message>
        <source>操作摄像头未被允许</source>
        <translation>You may not use the camera</translation>
    </message>
    <message>
        <source>你已经拥有发言的权利，不需要申请！</source>
        <translation>You may speak already; there is nothing to ask for!</translation>
    </message>
    <message>
        <source>已向%s申请，等待审批！</source>
        <translation>Asked the %s; waiting for approval!</translation>
    </message>
    <message>
        <source>%s不在线，无法完成申请！</source>
        <translation>The %s is not online; the request cannot be made!</translation>
    </message>
    <message>
        <source>为了音质清晰，请关闭其他音频程序后再进入系统！</source>
        <translation>For clear sound, close other audio programs before you join!</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>success</translation>
    </message>
    <message>
        <source>用户不存在</source>
        <translation>no such user</translation>
    </message>
    <message>
        <source>密码错误</source>
        <translation>wrong password</translation>
    </message>
    <message>
        <source>房间不存在</source>
        <translation>no such room</translation>
    </message>
    <message>
        <source>拒绝访问(没有权限)</source>
        <translation>access refused (no permission)</translation>
    </message>
    <message>
        <source>用户已登录</source>
        <translation>the user is logged in elsewhere</translation>
    </message>
    <message>
        <source>%s举手申请发言</source>
        <translation>%s raised a hand to speak</translation>
    </message>
    <message>
        <source>%s已放下手</source>
        <translation>%s lowered the hand</translation>
    </message>
    <message>
        <source>你已放下手</source>
        <translation>You lowered your hand</translation>
    </message>
    <message>
        <source>已允许%s发言</source>
        <translation>%s may speak now</translation>
    </message>
    <message>
        <source>已收回%d人的发言权</source>
        <translation>Took speech back from %d user(s)</translation>
    </message>
    <message>
        <source>已将%s移出课堂</source>
        <translation>Removed %s from the class</translation>
    </message>
    <message>
        <source>你已被发起人移出课堂</source>
        <translation>The host removed you from the class</translation>
    </message>
    <message>
        <source>%s没有摄像头</source>
        <translation>%s has no camera</translation>
    </message>
    <message>
        <source>程序加载失败，请重新执行安装程序！</source>
        <translation>The program could not be loaded. Please run the installer again!</translation>
    </message>
    <message>
        <source>与服务端断开连接，尝试重新连接...</source>
        <translation>Disconnected from the service, reconnecting...</translation>
    </message>
    <message>
        <source>正在重新连接...</source>
        <translation>Reconnecting...</translation>
    </message>
    <message>
        <source>连接已断开，%d秒后重新连接（第%d次）</source>
        <translation>Disconnected; reconnecting in %d s (attempt %d)</translation>
    </message>
    <message>
        <source>无法连接到课堂服务器，%d秒后重试</source>
        <translation>Cannot reach the class server; trying again in %d s</translation>
    </message>
    <message>
        <source>已连接，正在登录...</source>
        <translation>Connected, logging in...</translation>
    </message>
    <message>
        <source>本地视频</source>
        <translation>My video</translation>
    </message>
    <message>
        <source>视频未开启</source>
        <translation>Video off</translation>
    </message>
    <message>
        <source>摄像头初始化失败!</source>
        <translation>The camera could not be set up!</translation>
    </message>
    <message>
        <source>抓图成功 保存在 %1</source>
        <translation>Snapshot saved in %1</translation>
    </message>
    <message>
        <source>对%1抓图成功,保存在 %2</source>
        <translation>Snapshot of %1 saved in %2</translation>
    </message>
    <message>
        <source>摄像头已断开</source>
        <translation>The camera was disconnected</translation>
    </message>
    <message>
        <source>视频捕获设备</source>
        <translation>Video capture devices</translation>
    </message>
    <message>
        <source>视频设备：</source>
        <translation>Video device:</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimise</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>申请发言</source>
        <translation>Ask to speak</translation>
    </message>
    <message>
        <source>字体</source>
        <translation>Font</translation>
    </message>
    <message>
        <source>表情</source>
        <translation>Faces</translation>
    </message>
    <message>
        <source>截图</source>
        <translation>Snapshot</translation>
    </message>
    <message>
        <source>上一页</source>
        <translation>Previous page</translation>
    </message>
    <message>
        <source>下一页</source>
        <translation>Next page</translation>
    </message>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>声音</source>
        <translation>Sound</translation>
    </message>
    <message>
        <source>快照</source>
        <translation>Snapshot</translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Zoom in</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Zoom out</translation>
    </message>
    <message>
        <source>接收人</source>
        <translation>Recipient</translation>
    </message>
    <message>
        <source>私聊：只有选中的人看得到</source>
        <translation>Private: only the chosen user sees it</translation>
    </message>
    <message>
        <source>输入消息</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>Enter 发送，Ctrl+Enter 换行</source>
        <translation>Enter sends, Ctrl+Enter breaks the line</translation>
    </message>
    <message>
        <source>麦克风音量</source>
        <translation>Microphone volume</translation>
    </message>
    <message>
        <source>输出音量</source>
        <translation>Output volume</translation>
    </message>
    <message>
        <source>单击选中，双击放大，F11 全屏</source>
        <translation>Click selects, double click enlarges, F11 full screen</translation>
    </message>
    <message>
        <source>已离开房间</source>
        <translation> has left the room</translation>
    </message>
    <message>
        <source>颜色：</source>
        <translation>Colour:</translation>
    </message>
    <message>
        <source>其他颜色...</source>
        <translation>Other colours...</translation>
    </message>
    <message>
        <source>微软中文软件 AaBbYyZz</source>
        <translation>Sample text AaBbYyZz</translation>
    </message>
    <message>
        <source>麦克风已静音</source>
        <translation>Microphone muted</translation>
    </message>
    <message>
        <source>输出已静音</source>
        <translation>Output muted</translation>
    </message>
    <message>
        <source>已进入房间</source>
        <translation> has entered the room</translation>
    </message>
    <message>
        <source>%s已经有权限，不需要申请！</source>
        <translation>The %s may speak already; there is nothing to ask for!</translation>
    </message>
    <message>
        <source>发现新设备：%s</source>
        <translation>New device: %s</translation>
    </message>
    <message>
        <source>设备已拔出：%s</source>
        <translation>Device unplugged: %s</translation>
    </message>
    <message>
        <source>正在使用的录音设备已拔出，已改用默认设备</source>
        <translation>The recording device in use was unplugged; using the default device</translation>
    </message>
    <message>
        <source>正在使用的播放设备已拔出，已改用默认设备</source>
        <translation>The playback device in use was unplugged; using the default device</translation>
    </message>
    <message>
        <source>正在使用的摄像头已拔出，已改用默认摄像头</source>
        <translation>The camera in use was unplugged; using the default camera</translation>
    </message>
    <message>
        <source>无法连接到服务程序，可能连接已被占用。</source>
        <translation>Cannot connect to the service; the connection may be in use.</translation>
    </message>
    <message>
        <source>（视频格式无法解码）</source>
        <translation>(video format cannot be decoded)</translation>
    </message>
    <message>
        <source>加入课堂</source>
        <translation>Join a class</translation>
    </message>
    <message>
        <source>课堂链接：</source>
        <translation>Class link:</translation>
    </message>
    <message>
        <source>粘贴(&amp;P)</source>
        <translation>&amp;Paste</translation>
    </message>
    <message>
        <source>或者输入：</source>
        <translation>Or enter:</translation>
    </message>
    <message>
        <source>房间号：</source>
        <translation>Room:</translation>
    </message>
    <message>
        <source>用户号：</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>服务器：</source>
        <translation>Server:</translation>
    </message>
    <message>
        <source>主机:端口（不填：只在本机）</source>
        <translation>host:port (empty: this computer only)</translation>
    </message>
    <message>
        <source>加入(&amp;J)</source>
        <translation>&amp;Join</translation>
    </message>
    <message>
        <source>退出(&amp;Q)</source>
        <translation>&amp;Quit</translation>
    </message>
    <message>
        <source>链接中没有用户号。</source>
        <translation>The link has no user.</translation>
    </message>
    <message>
        <source>请填写房间号和用户号（大于 0 的数字）。</source>
        <translation>Enter the room and the user (numbers above 0).</translation>
    </message>
    <message>
        <source>服务器请写成 主机:端口，例如 192.168.1.10:6000。</source>
        <translation>Write the server as host:port, for example 192.168.1.10:6000.</translation>
    </message>
    <message>
        <source>您正在另一个课堂中。离开当前课堂，加入新的课堂吗？</source>
        <translation>You are in another class. Leave it and join the new class?</translation>
    </message>
</context>
</TS>
