// The keyboard's lock keys, where the platform reports them.
#pragma once

namespace app {

struct LockKeyState {
    bool bKnown = false;  // false: the platform does not say
    bool bCaps = false;
    bool bNum = false;
    bool bScroll = false;
};

LockKeyState QueryLockKeys();

}  // namespace app
