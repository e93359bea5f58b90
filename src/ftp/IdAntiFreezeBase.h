#pragma once
// The keep-responsive step: while a socket call blocks on the window's thread, the window's
// events keep being processed. The FTP layer knows only this interface; the application
// implements Process() with its event loop. At most one instance exists.
#include <thread>

class TIdAntiFreezeBase {
public:
    TIdAntiFreezeBase();
    virtual ~TIdAntiFreezeBase();
    TIdAntiFreezeBase(const TIdAntiFreezeBase&) = delete;
    TIdAntiFreezeBase& operator=(const TIdAntiFreezeBase&) = delete;

    bool Active = true;
    bool ApplicationHasPriority = true;
    int IdleTimeOut = 250; // ms
    bool OnlyWhenIdle = true;

    // Called by the socket layer after each wait (idle: nothing became readable) and send.
    static void KeepResponsive(bool idle, bool force);
    // True when an active instance exists and the caller runs on the thread that made it.
    static bool InForce();
    static TIdAntiFreezeBase* Instance();

protected:
    // Process the whole queue (applicationHasPriority) or one waiting event.
    virtual void Process(bool applicationHasPriority) = 0;

private:
    std::thread::id mainThread_;
};
