#pragma once
// Tests set up an outline as a road would leave it (points arriving, an end
// record, a finished count), straight in the session's store.

#include "main/takeoff/takeoff_session.h"
#include "main/window/form1.h"

inline OutlineStore& StoreOf(TakeoffSession& session) {
    return session.outline_;
}

inline OutlineStore& StoreOf(Form1& form) {
    return StoreOf(form.session());
}
