// The simulator's own copy of the compiled parts of Boost.Asio (with TLS).
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
