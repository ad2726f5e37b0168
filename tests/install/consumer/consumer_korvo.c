/* Opens the default simulated device through the installed headers and
 * library and prints what it is. */
#include <stdio.h>

#include <korvo/korvo.h>
#include <korvo/korvo_sim.h>

int main(void) {
    int handle = init_korvo("");
    if (handle < 0) {
        fprintf(stderr, "init_korvo failed: %d\n", handle);
        return 1;
    }
    printf("model: %s\n", get_korvo_model_type((KorvoHandle)handle));
    double position[3] = {0, 0, 0};
    double velocity[3] = {0, 0, 0};
    double force[3] = {0, 0, 0};
    if (korvo_sim_get_true_state((KorvoHandle)handle, position, velocity, force) != 0) return 1;
    printf("position: %g %g %g\n", position[0], position[1], position[2]);
    return disable_korvo((KorvoHandle)handle) == 0 ? 0 : 1;
}
