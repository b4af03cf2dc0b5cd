// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/texts.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include <libintl.h>

// Marks a source text for the catalogues (po/): xgettext collects these.
#define N_(text) text

const char *const TEXT_DOMAIN = "corvix";
const char *const CATALOGUE_DIR = "/usr/share/locale";

namespace {

std::atomic<TextLanguage> language{TextLanguage::Chinese};

// A source text in the chosen language. The empty text is the catalogue's
// header to gettext, so it never goes there.
const char *shown(const char *text)
{
    if (language.load() == TextLanguage::Chinese || !text[0])
        return text;
    return dgettext(TEXT_DOMAIN, text);
}

struct TextRow {
    TextId id;
    const char *text;
};

// In TextId order, which the check below holds the table to.
constexpr TextRow TEXTS[] = {
    {T_NONE, ""},
    {T_TITLE_REMINDER, N_("温馨提示")},
    {T_TITLE_ERROR, N_("错误")},
    {T_TITLE_NOTICE, N_("提示")},
    {T_TITLE_AUTH_FAILED, N_("认证失败")},
    {T_TITLE_DROPPED, N_("掉线")},
    {T_TITLE_NO_ADDRESS, N_("获取ip失败")},
    {T_TITLE_FAILED, N_("失败")},
    {T_TITLE_SETTINGS, N_("设置")},
    {T_APP_NAME, N_("Corvix认证客户端")},
    {T_ACCOUNT_EMPTY, N_("帐号不能为空！")},
    {T_PASSWORD_LENGTH, N_("密码长度为6-20位！")},
    {T_NIC_LIST_FAILED, N_("列举网卡失败！")},
    {T_NO_NIC, N_("没有找到可用网卡，请确保启用了网卡！")},
    {T_NIC_MISSING, N_("没有找到该网卡，可能已经被停用！")},
    {T_NIC_OPEN_FAILED, N_("不能打开网卡，可能是网卡不支持LibPcap！")},
    {T_AUTHENTICATING, N_("正在认证中……")},
    {T_PROGRESS_START, N_("正在认证中……（start）")},
    {T_PROGRESS_IDENTITY, N_("正在认证中……（IDENTITY）")},
    {T_PROGRESS_IDENTITY2, N_("正在认证中……（IDENTITY2）")},
    {T_PROGRESS_MD5, N_("正在认证中……（MD5-Challenge2）")},
    {T_PASSED_GETTING_IP, N_("认证通过！正在获取IP地址……")},
    {T_AUTH_SUCCEEDED, N_("认证成功！")},
    {T_RECONNECT, N_("等待超时，自动进行第 %d 次认证！")},
    {T_NO_ANSWER, N_("等待服务器响应超时，可能是你没有插好网线\n\n或者选了无线网卡！")},
    {T_LINK_TIMEOUT, N_("等待服务器响应超时（key）！")},
    {T_SERVER_FAILURE, ""},
    {T_NO_DHCP_CLIENT, N_("没有找到系统的dhcp客户端，请尝试程序的\n\ndhcp客户端！")},
    {T_POPEN_FAILED, N_("popen错误，获取ip失败！")},
    {T_DHCP_FAILED, N_("动态获取ip不成功！")},
    {T_NOT_ROOT, N_("运行Corvix需要root权限！")},
    {T_ALREADY_RUNNING, N_("Corvix认证客户端已运行！")},
    {T_SETTINGS_UNREADABLE, N_("读取配置文件失败！")},
    {T_SETTING_NOT_SAVED, N_("读取配置文件失败，当前设置不能被保存！")},
    {T_SETTINGS_NOT_SAVED, N_("读取配置文件失败，设置不能被保存！")},
    {T_PROGRAM_REFUSED, N_("只有管理员才能设置在认证后运行的程序！")},
    {T_ENGINE_GONE, N_("Corvix认证服务已意外退出！")},
    {T_CANNOT_DROP_ROOT, "\n错误：Corvix窗口不能放弃root权限！\n"},
    {T_DELETE_ACCOUNT_TIP, N_("删除当前帐号的相关信息！")},
    {T_ACCOUNT_LABEL, N_("帐号:")},
    {T_PASSWORD_LABEL, N_("密码:")},
    {T_DEVICE_LABEL, N_("网卡:")},
    {T_REMEMBER_PASSWORD, N_("记住密码")},
    {T_AUTO_LOGON, N_("自动认证")},
    {T_ABOUT_COMMENTS, N_("作者：Corvix 开发者（联系方式见 readme）\n使用：选择网卡，输入帐号和密码，点击“认证”。")},
    {T_MENU_HIDE, N_("已认证成功！（隐藏）")},
    {T_MENU_DISCONNECT, N_("断开")},
    {T_MENU_EXIT, N_("退出")},
    {T_OPEN_URL, N_("认证成功后打开以下网页或程序：")},
    {T_OWN_DHCP, N_("使用程序的dhcp客户端")},
    {T_AUTO_START, N_("开机自动运行")},
    {T_LAUNCHER, N_("创建桌面启动器")},
    {T_PRIVATE_AUTH, N_("私有认证")},
    {T_TIMEOUT_RECONNECT, N_("超时重新认证")},
    {T_PRIVATE_AUTH_TIP, N_("正常情况下不需要启用该项！")},
    {T_TIMEOUT_CAPTION, N_("超时时间（秒）：")},
    {T_NOT_INSTALLED, "\n温馨提示：Corvix认证客户端2.0尚未安装！\n"},
    {T_ROOT_HINTS, "(RedHat/Fedora下使用su命令切换为root)\n(Ubuntu/Debian下在命令前添加sudo)\n\n"},
    {T_INSTALL_NEEDS_ROOT, "\n抱歉，安装本客户端程序需要root权限！\n"},
    {T_ALREADY_INSTALLED, "\n温馨提示：Corvix认证客户端2.0已经安装！\n"},
    {T_INSTALLING, "\n正在安装Corvix认证客户端2.0..."},
    {T_INSTALL_DONE, "安装结束！\n"},
    {T_UNINSTALL_NEEDS_ROOT, "\n抱歉，删除本客户端程序需要root权限！\n"},
    {T_UNINSTALLING, "\n正在删除Corvix认证客户端2.0..."},
    {T_UNINSTALL_DONE, "Corvix 认证客户端已删除！\n"},
    {T_INSTALLED_BY_PACKAGE,
     "\n温馨提示：Corvix认证客户端2.0已由软件包管理器安装，不再复制文件！\n"
     "(删除请使用 apt remove corvix)\n"},
    {T_REMOVED_BY_PACKAGE,
     "\n温馨提示：Corvix认证客户端2.0由软件包管理器安装，本程序不删除任何文件！\n"
     "(请使用 apt remove corvix 删除)\n"},
    {T_CABLE_UNPLUGGED, N_("网线已断开，等待重新连接……")},
    {T_NIC_DISABLED_WAIT, N_("网卡已停用，等待重新启用……")},
    {T_NO_CARRIER, N_("网线未连接，请插好网线后重新认证！")},
    {T_NIC_DOWN, N_("网卡未启用，请先启用网卡！")},
    {T_NIC_REMOVED, N_("网卡已被移除，请插好网卡后重新认证！")},
    {T_USAGE, N_("用法：Corvix [选项]\n"
                 "不带选项时启动认证客户端。\n\n"
                 "  --help      显示本帮助并退出\n"
                 "  --version   显示版本并退出\n"
                 "  -install    安装客户端（需要root权限）\n"
                 "  -uninstall  删除客户端（需要root权限）\n\n"
                 "运行日志写入系统日志：journalctl -t Corvix\n")},
    {T_SURFACE_HINT, N_("点击显示认证状态")},
    {T_SETTINGS_WRITE_FAILED, N_("配置文件写入失败，设置未被保存！")},
    {T_AUTOSTART_FAILED, N_("设置已保存，但开机自动运行未能设置！")},
    // The picture buttons' captions, as their names and tooltips.
    {T_CAPTION_LOGON, N_("认证")},
    {T_CAPTION_ABOUT, N_("关于")},
    {T_CAPTION_HIDE, N_("隐藏")},
    {T_CAPTION_RECONNECT, N_("重新认证")},
    {T_CAPTION_RETURN, N_("返回")},
    {T_CAPTION_OK, N_("确定")},
    {T_CAPTION_SAVE, N_("保存")},
    {T_CAPTION_CANCEL, N_("取消")},
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
    {"301", N_("无效的用户信息！")},
    {"302", N_("不存在的用户！")},
    {"303", N_("密码错误！")},
    {"304", N_("系统错误！")},
    {"305", N_("用户在线数限制！")},
    {"306", N_("帐号被挂起！")},
    {"307", N_("非本地用户！")},
    {"308", N_("帐上金额不足！")},
    {"310", N_("包月限时限流卡总金额不足！")},
    {"311", N_("Mac地址匹配错误！")},
    {"312", N_("ip地址匹配错误！")},
    {"313", N_("用户无权登录指定域！")},
    {"314", N_("Domain is not allowed！")},
    {"317", N_("SLOT 匹配错误！")},
    {"318", N_("接入服务器ip匹配错误！")},
    {"319", N_("VPI 匹配错误！")},
    {"320", N_("VCI 匹配错误！")},
    {"321", N_("绑定的VLAN号匹配失败！")},
    {"322", N_("绑定的BNAS端口号检查失败！")},
    {"323", N_("Not register service！")},
    {"324", N_("用户没有被激活，请到营业厅激活！")},
    {"325", N_("免费帐号当天在该机已经登录过！")},
    {"326", N_("您没有在该区域登录权限！")},
    {"327", N_("已过截止时间！")},
    {"328", N_("连续两次认证间隔时间太短！")},
    {"329", N_("该用户已被拖入黑名单！")},
    {"330", N_("客户端没启用私有认证，请选择私有认证选项！")},
    {"331", N_("请与管理员联系，相关用户组属性错误!！")},
    {"332", N_("分时段验证失败，用户当前不能登陆！")},
    {"333", N_("自助分时段验证失败，用户当前不能登陆！")},
    {"334", N_("设备脚本执行失败，用户当前不能登陆！")},
    {"360", N_("代理用户认证失败！")},
    {"370", N_("账号登录忙,请稍后再试！")},
    {"123", N_("通用帐号当前未绑定资费策略！")},
    {"127", N_("通用帐号余额不足支付所有的月租之和！")},
};

constexpr const char *DEFAULT_FAILURE_MESSAGE = N_("该错误不存在提示信息！");

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

TextLanguage choose_text_language(const char *dir)
{
    bindtextdomain(TEXT_DOMAIN, dir);
    bind_textdomain_codeset(TEXT_DOMAIN, "UTF-8");
    // The catalogue gettext picks decides: the client's name differs in English only.
    const char *name = TEXTS[T_APP_NAME].text;
    bool english = std::strcmp(dgettext(TEXT_DOMAIN, name), name) != 0;
    language = english ? TextLanguage::English : TextLanguage::Chinese;
    return language;
}

TextLanguage text_language()
{
    return language;
}

bool text_id_valid(int32_t id)
{
    return id >= 0 && id < TEXT_COUNT;
}

const char *source_text(TextId id)
{
    return text_id_valid(id) ? TEXTS[id].text : "";
}

const char *text_of(TextId id)
{
    return shown(source_text(id));
}

std::string render_text(const UserText &t)
{
    if (t.id == T_SERVER_FAILURE)
        return failure_message(t.code);
    if (t.id == T_RECONNECT) {
        char notice[96];
        std::snprintf(notice, sizeof notice, text_of(T_RECONNECT), t.number);
        return notice;
    }
    return text_of(t.id);
}

const char *failure_source(const uint8_t failure_code[4])
{
    if (failure_code[3] != ':')
        return DEFAULT_FAILURE_MESSAGE;
    for (const FailureRow &row : FailureTable) {
        if (std::memcmp(row.code, failure_code, 3) == 0)
            return row.message;
    }
    return DEFAULT_FAILURE_MESSAGE;
}

const char *failure_message(const uint8_t failure_code[4])
{
    return shown(failure_source(failure_code));
}
