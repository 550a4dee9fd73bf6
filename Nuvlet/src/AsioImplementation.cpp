// The compiled parts of Boost.Asio (and its TLS support) that the library and the driver module
// share: one scheduler, one reactor and one per-thread call stack for every io_context of the
// process's camera connections.
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
