#pragma once
// The form's Tab order.
#include <span>

#include "profiles/connection_form.hpp"
#include "profiles/saved_connection.hpp"

namespace remote::views {

// The inputs Tab walks on a form of this kind, in order.
std::span<const InputSlot> form_tab_order(ConnectionKind kind);

}  // namespace remote::views
