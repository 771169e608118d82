#include "wnd/VLHttpAgentWnd.h"

#include <cctype>

#include "app/core/VLConfigManager.h"
#include "net/VLAgentSettings.h"
#include "net/VLHttpRequest.h"
#include "net/VLHttpRequestManager.h"
#include "net/VLNetMessages.h"
#include "platform/common/KWLog.h"
#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIResource.h"
#include "wnd/VLMessagebox.h"

namespace KwLib {

VLHttpAgentWnd::VLHttpAgentWnd(VLConfigManager* config, VLAgentSettings* agent, VLHttpRequestManager* requests)
    : m_config(config), m_agent(agent), m_requests(requests) {}

bool VLHttpAgentWnd::Show(UIWindowWnd* owner, VLConfigManager* config, VLAgentSettings* agent,
                          VLHttpRequestManager* requests) {
    VLHttpAgentWnd window(config, agent, requests);
    if (!window.Create(owner, LoadStr(1000)))
        return false;
    window.CenterWindow();
    window.ShowModal();
    // The window lives on this stack: a test of the agent still under way
    // (5 s to give up on an agent that does not answer) must not answer to it.
    requests->ForgetReceiver(&window);
    return window.Saved();
}

void VLHttpAgentWnd::InitWindow() {
    m_pm.FindControl(kAddressId)->SetText(m_config->GetString("AGENT", "IP"));
    m_pm.FindControl(kPort1Id)->SetText(std::to_string(m_config->GetInt("AGENT", "Port1")));
    m_pm.FindControl(kPort2Id)->SetText(std::to_string(m_config->GetInt("AGENT", "Port2")));
    m_pm.FindControl(kPort3Id)->SetText(std::to_string(m_config->GetInt("AGENT", "Port3")));
    UpdateTestButton();
}

std::string VLHttpAgentWnd::FieldText(int id) const {
    const UIControl* c = const_cast<UIPaintManager&>(m_pm).FindControl(id);
    return c ? KWStringUtils::Trim(c->GetText()) : std::string();
}

int VLHttpAgentWnd::ParsePort(const std::string& text) {
    const std::string t = KWStringUtils::Trim(text);
    if (t.empty() || t.size() > 5 || t.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int port = std::stoi(t);
    return port >= 1 && port <= 65535 ? port : 0;
}

bool VLHttpAgentWnd::IsValidAddress(const std::string& text) {
    if (text.empty() || text.size() > 253)
        return false;
    // Digits and dots only: it must be a whole dotted IPv4 address.
    if (text.find_first_not_of("0123456789.") == std::string::npos) {
        int parts = 0;
        size_t start = 0;
        while (start <= text.size()) {
            const size_t dot = text.find('.', start);
            const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
            if (part.empty() || part.size() > 3 || std::stoi(part) > 255)
                return false;
            ++parts;
            if (dot == std::string::npos)
                break;
            start = dot + 1;
        }
        return parts == 4;
    }
    // A host name: letters, digits, hyphens and dots.
    for (char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'))
            return false;
    return text.front() != '.' && text.front() != '-';
}

void VLHttpAgentWnd::UpdateTestButton() {
    if (!m_testing)
        m_pm.FindControl(kTestId)->SetEnabled(!FieldText(kAddressId).empty());
}

void VLHttpAgentWnd::EnableControls(bool enable) {
    for (int id : {kAddressId, kPort1Id, kPort2Id, kPort3Id, kTestId, kOkId})
        m_pm.FindControl(id)->SetEnabled(enable);
    if (enable)
        UpdateTestButton();
}

void VLHttpAgentWnd::Notify(UINotification& msg) {
    const int id = msg.sender ? msg.sender->GetId() : 0;
    if (msg.type == kNotifyTextChanged && id == kAddressId) {
        UpdateTestButton();
        return;
    }
    if (msg.type != kNotifyClick)
        return;
    if (id == kCloseId)
        Close(IDCLOSE);
    else if (id == kTestId)
        Test();
    else if (id == kOkId)
        Save();
}

void VLHttpAgentWnd::Test() {
    const std::string address = FieldText(kAddressId);
    const int port = ParsePort(FieldText(kPort1Id));
    if (!IsValidAddress(address) || port == 0) {
        VLMessagebox::Show(this, VLMessagebox::kOkOnly, 1,
                           !IsValidAddress(address) ? "请输入正确的IP地址。" : "端口号应为1到65535之间的数字。");
        return;
    }
    VLHttpRequest request;
    request.m_method = VLHttpRequest::kGet;
    request.m_id = kReqAgentRelay;
    request.m_url = KWStringUtils::Format("%s:%d/request?", address.c_str(), port);
    if (request.m_url.size() > 259)
        request.m_url.resize(259);
    request.m_receiver = this;
    m_testing = true;
    EnableControls(false);
    m_requests->AddRequest(request);
}

void VLHttpAgentWnd::Save() {
    const std::string address = FieldText(kAddressId);
    const int port1 = ParsePort(FieldText(kPort1Id));
    const int port2 = ParsePort(FieldText(kPort2Id));
    const int port3 = ParsePort(FieldText(kPort3Id));
    if (!IsValidAddress(address)) {
        VLMessagebox::Show(this, VLMessagebox::kOkOnly, 1, "请输入正确的IP地址。");
        return;
    }
    if (port1 == 0 || port2 == 0 || port3 == 0) {
        VLMessagebox::Show(this, VLMessagebox::kOkOnly, 1, "端口号应为1到65535之间的数字。");
        return;
    }
    m_config->SetString("AGENT", "IP", address);
    m_config->SetInt("AGENT", "Port1", port1);
    m_config->SetInt("AGENT", "Port2", port2);
    m_config->SetInt("AGENT", "Port3", port3);
    if (!m_config->Save()) {
        // Not saved is said as such: the next start would use the old settings.
        VL_LOG_ERROR("the network settings could not be saved to %s", m_config->GetPath().c_str());
        VLMessagebox::Show(this, VLMessagebox::kOkOnly, 1, "网络设置保存失败，请检查磁盘空间或文件权限后重试。");
        return;
    }
    m_agent->LoadAgentSettings();
    m_saved = true;
    Close(IDOK);
}

intptr_t VLHttpAgentWnd::HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t, bool& handled) {
    if (msg == WM_AGENT_RELAY_RSP || (msg == WM_HTTP_FAILED && static_cast<int>(wParam) == kReqAgentRelay)) {
        handled = true;
        m_testing = false;
        EnableControls(true);
        VLMessagebox::Show(this, VLMessagebox::kOkOnly, msg == WM_AGENT_RELAY_RSP ? 2 : 1,
                           msg == WM_AGENT_RELAY_RSP ? "该代理正常。" : "该代理不可用。");
        return 0;
    }
    handled = false;
    return 0;
}

}  // namespace KwLib
