#include "auth/dispatch.h"

#include <cstdio>
#include <cstring>
#include <glib.h>

#include "app/records.h"
#include "auth/key.h"
#include "auth/packets.h"

namespace {

constexpr int EAPOL_TYPE_OFFSET = 15;
constexpr int EAP_CODE_OFFSET = 18;
constexpr int EAP_TYPE_OFFSET = 22;
constexpr int FAILURE_CODE_OFFSET = 30;
constexpr uint8_t EAPOL_KEY = 3;

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

// The byte at offset, or -1 when the captured frame ends before it.
int byte_at(const uint8_t *frame, int caplen, int offset)
{
    return frame && offset < caplen ? frame[offset] : -1;
}

// Rows whose EAP code is a request, first match wins.
ExchangeAction dispatch_request(const uint8_t *frame, int caplen)
{
    if (byte_at(frame, caplen, EAPOL_TYPE_OFFSET) == EAPOL_KEY)
        return caplen >= KEY_FRAME_MIN_LEN ? ExchangeAction::AnswerKey : ExchangeAction::Ignore;
    int type = byte_at(frame, caplen, EAP_TYPE_OFFSET);
    if (type == IDENTITY)
        return ExchangeAction::AnswerIdentity;
    if (type == MD5 && caplen >= MD5_REQUEST_MIN_LEN)
        return ExchangeAction::AnswerMd5;
    return ExchangeAction::Ignore;
}

}  // namespace

StartWaitAction dispatch_start_wait(const uint8_t *frame, int caplen)
{
    int code = byte_at(frame, caplen, EAP_CODE_OFFSET);
    if (code == REQUEST)
        return StartWaitAction::Request;
    if (code == FAILURE)
        return StartWaitAction::Failure;
    return StartWaitAction::NoAnswer;
}

bool is_identity_request(const uint8_t *frame, int caplen)
{
    return byte_at(frame, caplen, EAP_TYPE_OFFSET) == IDENTITY;
}

ExchangeAction dispatch_exchange(const uint8_t *frame, int caplen, int run_status)
{
    switch (byte_at(frame, caplen, EAP_CODE_OFFSET)) {
    case REQUEST:
        return dispatch_request(frame, caplen);
    case FAILURE:
        return ExchangeAction::Failure;
    case SUCCESS:
        // A repeated Success after a reconnect while online changes nothing.
        return run_status == STATUS_AUTHENTICATING ? ExchangeAction::Success
                                                   : ExchangeAction::Ignore;
    default:
        return ExchangeAction::Ignore;
    }
}

void read_failure_code(const uint8_t *frame, int caplen, uint8_t out[4])
{
    std::memset(out, 0, 4);
    if (frame && caplen >= FAILURE_CODE_MIN_LEN)
        std::memcpy(out, frame + FAILURE_CODE_OFFSET, 4);
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

namespace {

// The suffix is put together at run time so that it never stands whole in the binary.
void append_private_suffix(char *out, size_t out_size)
{
    const char letters[] = {'q', 'x', 'k'};
    char suffix[10];
    std::snprintf(suffix, sizeof suffix, "%.3s%03d%03d", letters, 7 * 29, 4 * 113);
    g_strlcat(out, suffix, out_size);
}

}  // namespace

void build_answer_password(char out[30], const char *password, int private_auth)
{
    g_strlcpy(out, password, 30);
    if (private_auth)
        append_private_suffix(out, 30);
}
