#include "app/texts.h"

#include <cstdio>
#include <cstring>

namespace {

struct TextRow {
    TextId id;
    const char *text;
};

// In TextId order, which the check below holds the table to.
constexpr TextRow TEXTS[] = {
    {T_NONE, ""},
    {T_TITLE_REMINDER, "温馨提示"},
    {T_TITLE_ERROR, "错误"},
    {T_TITLE_NOTICE, "提示"},
    {T_TITLE_AUTH_FAILED, "认证失败"},
    {T_TITLE_DROPPED, "掉线"},
    {T_TITLE_NO_ADDRESS, "获取ip失败"},
    {T_TITLE_FAILED, "失败"},
    {T_TITLE_SETTINGS, "设置"},
    {T_APP_NAME, "Corvix认证客户端"},
    {T_ACCOUNT_EMPTY, "帐号不能为空！"},
    {T_PASSWORD_LENGTH, "密码长度为6-20位！"},
    {T_NIC_LIST_FAILED, "列举网卡失败！"},
    {T_NO_NIC, "没有找到可用网卡，请确保启用了网卡！"},
    {T_NIC_MISSING, "没有找到该网卡，可能已经被停用！"},
    {T_NIC_OPEN_FAILED, "不能打开网卡，可能是网卡不支持LibPcap！"},
    {T_AUTHENTICATING, "正在认证中……"},
    {T_PROGRESS_START, "正在认证中……（start）"},
    {T_PROGRESS_IDENTITY, "正在认证中……（IDENTITY）"},
    {T_PROGRESS_IDENTITY2, "正在认证中……（IDENTITY2）"},
    {T_PROGRESS_MD5, "正在认证中……（MD5-Challenge2）"},
    {T_PASSED_GETTING_IP, "认证通过！正在获取IP地址……"},
    {T_AUTH_SUCCEEDED, "认证成功！"},
    {T_RECONNECT, "等待超时，自动进行第 %d 次认证！"},
    {T_NO_ANSWER, "等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！"},
    {T_LINK_TIMEOUT, "等待服务器响应超时（key）！"},
    {T_SERVER_FAILURE, ""},
    {T_NO_DHCP_CLIENT, "没有找到系统的dhcp客户端，请尝试程序的\n\ndhcp客户端！"},
    {T_POPEN_FAILED, "popen错误，获取ip失败！"},
    {T_DHCP_FAILED, "动态获取ip不成功！"},
    {T_NOT_ROOT, "运行Corvix需要root权限！"},
    {T_ALREADY_RUNNING, "Corvix认证客户端已运行！"},
    {T_SETTINGS_UNREADABLE, "读取配置文件失败！"},
    {T_SETTING_NOT_SAVED, "读取配置文件失败，当前设置不能被保存！"},
    {T_SETTINGS_NOT_SAVED, "读取配置文件失败，设置不能被保存！"},
    {T_PROGRAM_REFUSED, "只有管理员才能设置在认证后运行的程序！"},
    {T_ENGINE_GONE, "Corvix认证服务已意外退出！"},
    {T_CANNOT_DROP_ROOT, "\n错误：Corvix窗口不能放弃root权限！\n"},
    {T_DELETE_ACCOUNT_TIP, "删除当前帐号的相关信息！"},
    {T_ACCOUNT_LABEL, "帐号:"},
    {T_PASSWORD_LABEL, "密码:"},
    {T_DEVICE_LABEL, "网卡:"},
    {T_REMEMBER_PASSWORD, "记住密码"},
    {T_AUTO_LOGON, "自动认证"},
    {T_ABOUT_COMMENTS, "作者：Corvix 开发者（联系方式见 readme）\n使用：选择网卡，输入帐号和密码，点击“认证”。"},
    {T_MENU_HIDE, "已认证成功！（隐藏）"},
    {T_MENU_DISCONNECT, "断开"},
    {T_MENU_EXIT, "退出"},
    {T_OPEN_URL, "认证成功后打开以下网页或程序："},
    {T_OWN_DHCP, "使用程序的dhcp客户端"},
    {T_AUTO_START, "开机自动运行"},
    {T_LAUNCHER, "创建桌面启动器"},
    {T_PRIVATE_AUTH, "私有认证"},
    {T_TIMEOUT_RECONNECT, "超时重新认证"},
    {T_PRIVATE_AUTH_TIP, "正常情况下不需要启用该项！"},
    {T_TIMEOUT_CAPTION, "超时时间（秒）："},
    {T_NOT_INSTALLED, "\n温馨提示：Corvix认证客户端2.0尚未安装！\n"},
    {T_ROOT_HINTS, "(RedHat/Fedora下使用su命令切换为root)\n(Ubuntu/Debian下在命令前添加sudo)\n\n"},
    {T_INSTALL_NEEDS_ROOT, "\n抱歉，安装本客户端程序需要root权限！\n"},
    {T_ALREADY_INSTALLED, "\n温馨提示：Corvix认证客户端2.0已经安装！\n"},
    {T_INSTALLING, "\n正在安装Corvix认证客户端2.0..."},
    {T_INSTALL_DONE, "安装结束！\n"},
    {T_UNINSTALL_NEEDS_ROOT, "\n抱歉，删除本客户端程序需要root权限！\n"},
    {T_UNINSTALLING, "\n正在删除Corvix认证客户端2.0..."},
    {T_UNINSTALL_DONE, "Corvix 认证客户端已删除！\n"},
    {T_CABLE_UNPLUGGED, "网线已断开，等待重新连接……"},
    {T_NIC_DISABLED_WAIT, "网卡已停用，等待重新启用……"},
    {T_NO_CARRIER, "网线未连接，请插好网线后重新认证！"},
    {T_NIC_DOWN, "网卡未启用，请先启用网卡！"},
    {T_NIC_REMOVED, "网卡已被移除，请插好网卡后重新认证！"},
};
constexpr bool rows_in_order()
{
    for (int i = 0; i < TEXT_COUNT; i++) {
        if (TEXTS[i].id != i)
            return false;
    }
    return true;
}
static_assert(sizeof TEXTS / sizeof TEXTS[0] == TEXT_COUNT && rows_in_order(), "one text per id, in order");

struct FailureRow {
    char code[4];
    const char *message;
};

// Searched in this order; only the first three bytes of a code are compared.
constexpr FailureRow FailureTable[] = {
    {"301", "无效的用户信息！"},
    {"302", "不存在的用户！"},
    {"303", "密码错误！"},
    {"304", "系统错误！"},
    {"305", "用户在线数限制！"},
    {"306", "帐号被挂起！"},
    {"307", "非本地用户！"},
    {"308", "帐上金额不足！"},
    {"310", "包月限时限流卡总金额不足！"},
    {"311", "Mac地址匹配错误！"},
    {"312", "ip地址匹配错误！"},
    {"313", "用户无权登录指定域！"},
    {"314", "Domain is not allowed！"},
    {"317", "SLOT 匹配错误！"},
    {"318", "接入服务器ip匹配错误！"},
    {"319", "VPI 匹配错误！"},
    {"320", "VCI 匹配错误！"},
    {"321", "绑定的VLAN号匹配失败！"},
    {"322", "绑定的BNAS端口号检查失败！"},
    {"323", "Not register service！"},
    {"324", "用户没有被激活，请到营业厅激活！"},
    {"325", "免费帐号当天在该机已经登录过！"},
    {"326", "您没有在该区域登录权限！"},
    {"327", "已过截止时间！"},
    {"328", "连续两次认证间隔时间太短！"},
    {"329", "该用户已被拖入黑名单！"},
    {"330", "客户端没启用私有认证，请选择私有认证选项！"},
    {"331", "请与管理员联系，相关用户组属性错误!！"},
    {"332", "分时段验证失败，用户当前不能登陆！"},
    {"333", "自助分时段验证失败，用户当前不能登陆！"},
    {"334", "设备脚本执行失败，用户当前不能登陆！"},
    {"360", "代理用户认证失败！"},
    {"370", "账号登录忙,请稍后再试！"},
    {"123", "通用帐号当前未绑定资费策略！"},
    {"127", "通用帐号余额不足支付所有的月租之和！"},
};

constexpr const char *DEFAULT_FAILURE_MESSAGE = "该错误不存在提示信息！";

}  // namespace

UserText reconnect_text(int attempt_number)
{
    UserText t = user_text(T_RECONNECT);
    t.number = attempt_number;
    return t;
}

UserText server_failure_text(const uint8_t failure_code[4])
{
    UserText t = user_text(T_SERVER_FAILURE);
    std::memcpy(t.code, failure_code, 4);
    return t;
}

bool text_id_valid(int32_t id)
{
    return id >= 0 && id < TEXT_COUNT;
}

const char *text_of(TextId id)
{
    return text_id_valid(id) ? TEXTS[id].text : "";
}

std::string render_text(const UserText &t)
{
    if (t.id == T_SERVER_FAILURE)
        return failure_message(t.code);
    if (t.id == T_RECONNECT) {
        char notice[96];
        std::snprintf(notice, sizeof notice, TEXTS[T_RECONNECT].text, t.number);
        return notice;
    }
    return text_of(t.id);
}

const char *failure_message(const uint8_t failure_code[4])
{
    if (failure_code[3] != ':')
        return DEFAULT_FAILURE_MESSAGE;
    for (const FailureRow &row : FailureTable) {
        if (std::memcmp(row.code, failure_code, 3) == 0)
            return row.message;
    }
    return DEFAULT_FAILURE_MESSAGE;
}
