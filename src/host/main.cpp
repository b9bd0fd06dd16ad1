#include "host/app.hpp"
#include "os/console.hpp"

int main(int argc, char** argv) {
  nm::os::init_stdio();
  return nm::host::run(nm::os::arguments(argc, argv));
}
