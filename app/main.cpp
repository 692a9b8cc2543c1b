// quorin: the classroom client.
#include "app/CquorinApp.h"
#include "app/launch_params.h"

int main(int argc, char** argv) {
    std::string launch = launch_string_from_args(argc, argv);
    CquorinApp app(argc, argv, std::move(launch));
    app.InitInstance();
    return 0;
}
