// The entry point of both programs: each links this with its one front end,
// which defines bexo_frontend.

#include "host/frontend.hpp"
#include "host/host_main.hpp"

int main(int argc, char** argv) {
  return host_main(argc, argv, &bexo_frontend);
}
