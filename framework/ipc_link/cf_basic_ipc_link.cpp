#include "framework/ipc_link/cf_basic_ipc_link.h"

template class cf_basic_ipc_link_t<cf_local_stream_socket_t>;
