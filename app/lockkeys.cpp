#include "app/lockkeys.h"

#include <QGuiApplication>

#ifdef VISTREL_HAVE_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace app {

LockKeyState QueryLockKeys() {
    LockKeyState state;
#ifdef VISTREL_HAVE_X11
    auto* pX11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* pDisplay = pX11 ? pX11->display() : nullptr;
    if (!pDisplay) return state;
    auto named = [pDisplay](const char* pszName, bool* pbOn) {
        Atom atom = XInternAtom(pDisplay, pszName, True);
        Bool bOn = False;
        if (atom == None || !XkbGetNamedIndicator(pDisplay, atom, nullptr, &bOn, nullptr, nullptr))
            return false;
        *pbOn = bOn != False;
        return true;
    };
    const bool bCaps = named("Caps Lock", &state.bCaps);
    const bool bNum = named("Num Lock", &state.bNum);
    const bool bScroll = named("Scroll Lock", &state.bScroll);
    state.bKnown = bCaps || bNum || bScroll;
#endif
    return state;
}

}  // namespace app
