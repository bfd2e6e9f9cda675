// The connection point for _IQuillornEvents. The dispinterface has no
// members, so there is nothing to fire: hosts can connect and disconnect.
#pragma once

#include "Quillorn_h.h"

#include <atlcom.h>

template <class T>
class CProxy_IQuillornEvents : public IConnectionPointImpl<T, &DIID__IQuillornEvents>
{
};
