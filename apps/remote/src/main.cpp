#include "app/launch_record.hpp"
#include "zavo_ui/launch.hpp"

int main() {
    const zavo_ui::launch::LaunchSpec spec = remote::app::launch_spec();
    zavo_ui::launch::run_or_exit(spec);
}
