#include "tk_converter.h"

#include "tk_exception.h"
#include "tk_file_name.h"
#include "tk_logger.h"
#include "tk_utils.h"

tk_converter::tk_converter()
{
    TK_TRACE(2, "tk_converter::ctor");
}

tk_converter::~tk_converter() = default;

void tk_converter::set_silent(bool value)
{
    silent = value;
}

void tk_converter::set_logfile(const std::string& name)
{
    TK_TRACE(1, "tk_convertor::set_logfile(%s)", name);
    log_file = name;
    if (name.empty()) {
        TK_TRACE(1, "Filename is empty");
        return;
    }
    if (tk_is_path_exist(name))
        throw tk_exception(tk_messages[10], 1);
    if (tk_is_file_exist(name, 0x4000) && !tk_is_file_exist(name, 1))
        throw tk_exception(tk_messages[8], 1);
    tk_file_name full(name);
    if (!tk_is_path_exist(full.get_path()))
        throw tk_exception(tk_messages[9], 1);
    if (tk_logger* logger = tk_logger::try_instance())
        logger->enable_file(full.get_full_name());
}
