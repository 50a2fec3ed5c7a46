#include "ozr/logging/DateTimeProvider.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace ozr::logging
{

boost::posix_time::ptime DateTimeProvider::GetLocalNow() const
{
    return boost::posix_time::microsec_clock::local_time();
}

boost::posix_time::ptime DateTimeProvider::GetUniversalNow() const
{
    return boost::posix_time::microsec_clock::universal_time();
}

}  // namespace ozr::logging
