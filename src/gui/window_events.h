#pragma once
// The events the recorder window delivers, one at a time on the window's
// thread: clicks of its buttons, ticks of RecTimer and the unload when the
// window closes. The window forwards them and decides nothing itself.

namespace kestrun::qt {

class WindowEvents {
  public:
    virtual ~WindowEvents() = default;

    virtual void Form_Unload() = 0;
    virtual void Connect_Click() = 0;
    virtual void Disconnect_Click() = 0;
    virtual void cmdRecord_Click() = 0;
    virtual void cmdStop_Click() = 0;
    virtual void cmdSetPath_Click() = 0;
    virtual void RecTimer_Timer() = 0;
};

// Forwards every event to the handler of the same name on `Handlers`, which
// must outlive this object.
template <typename Handlers>
class ForwardEvents final : public WindowEvents {
  public:
    explicit ForwardEvents(Handlers& handlers) : handlers_(handlers) {}

    void Form_Unload() override { handlers_.Form_Unload(); }
    void Connect_Click() override { handlers_.Connect_Click(); }
    void Disconnect_Click() override { handlers_.Disconnect_Click(); }
    void cmdRecord_Click() override { handlers_.cmdRecord_Click(); }
    void cmdStop_Click() override { handlers_.cmdStop_Click(); }
    void cmdSetPath_Click() override { handlers_.cmdSetPath_Click(); }
    void RecTimer_Timer() override { handlers_.RecTimer_Timer(); }

  private:
    Handlers& handlers_;
};

}  // namespace kestrun::qt
