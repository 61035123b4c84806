#pragma once

#include <memory>

#include "framework/log/cf_log.h"
#include "log.pb.h"

// Builds the sink the settings ask for; empty for the type AUTO or any unknown
// type. When additional_log is empty, COM_QUARN_ADD_LOG_PIPE may fill it with a
// writer to that descriptor; an empty additional_tagged_log becomes a copy of
// additional_log. Both arguments are updated in place.
// Throws boost::filesystem::filesystem_error "Cannot create log" when a log
// file cannot be opened.
std::shared_ptr<cf_log_t> cf_log_factory(qn::Log const& settings, cf_log_t::callback_t& additional_log,
                                         cf_log_t::callback_t& additional_tagged_log);
