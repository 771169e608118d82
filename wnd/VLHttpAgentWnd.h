#pragma once
// VLHttpAgentWnd: the "网络设置" window of the sign-in screens: the classroom
// agent's address and its three ports, a test of the agent ("/request" on its
// request port) and saving them to config.cfg. Layout window "VLHttpAgentWnd".
// UI thread only, except PostMessageW (the request worker answers the test).
#include <string>

#include "platform/ui/UIWindowImplBase.h"

namespace KwLib {

class VLAgentSettings;
class VLConfigManager;
class VLHttpRequestManager;

class VLHttpAgentWnd : public UIWindowImplBase {
public:
    static constexpr int kCloseId = 4200;
    static constexpr int kAddressId = 4202;
    static constexpr int kPort1Id = 4204;
    static constexpr int kPort2Id = 4206;
    static constexpr int kPort3Id = 4208;
    static constexpr int kTestId = 4209;
    static constexpr int kOkId = 4210;

    VLHttpAgentWnd(VLConfigManager* config, VLAgentSettings* agent, VLHttpRequestManager* requests);

    std::string GetWindowClassName() const override { return "QNHttpAgentWnd"; }
    std::string GetSkinWindowName() const override { return "VLHttpAgentWnd"; }
    void InitWindow() override;
    void Notify(UINotification& msg) override;
    intptr_t HandleCustomMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, bool& handled) override;

    // Opens the window over `owner` and runs it modally; true when settings were saved.
    static bool Show(UIWindowWnd* owner, VLConfigManager* config, VLAgentSettings* agent,
                     VLHttpRequestManager* requests);

    // A port as typed: 1..65535, or 0 when the text is no such number.
    static int ParsePort(const std::string& text);
    // An address the agent can have: dotted IPv4 or a host name.
    static bool IsValidAddress(const std::string& text);

    bool Saved() const { return m_saved; }
    bool IsTesting() const { return m_testing; }

private:
    void EnableControls(bool enable);
    void UpdateTestButton();
    void Test();
    void Save();
    std::string FieldText(int id) const;

    VLConfigManager* m_config;
    VLAgentSettings* m_agent;
    VLHttpRequestManager* m_requests;
    bool m_testing = false;
    bool m_saved = false;
};

}  // namespace KwLib
