/* An ALSA control device with no controls. A machine without a sound card has no control
 * device that opens, and RtAudio lists ALSA devices only once the control "default" opens;
 * a private ALSA configuration points "default" here (harness/platora_harness/chain.py writes one). */
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>
#include <errno.h>
#include <stdlib.h>

static int countElements(snd_ctl_ext_t* ext) {
    (void)ext;
    return 0;
}

static int listElement(snd_ctl_ext_t* ext, unsigned int offset, snd_ctl_elem_id_t* id) {
    (void)ext, (void)offset, (void)id;
    return -EINVAL;
}

static snd_ctl_ext_key_t findElement(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id) {
    (void)ext, (void)id;
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

static int getAttribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned int* access,
                        unsigned int* count) {
    (void)ext, (void)key, (void)type, (void)access, (void)count;
    return -EINVAL;
}

static void closeControl(snd_ctl_ext_t* ext) { free(ext); }

static const snd_ctl_ext_callback_t callbacks = {
    .elem_count = countElements,
    .elem_list = listElement,
    .find_elem = findElement,
    .get_attribute = getAttribute,
    .close = closeControl,
};

SND_CTL_PLUGIN_DEFINE_FUNC(platora_empty) {
    (void)root, (void)conf;
    snd_ctl_ext_t* ext = calloc(1, sizeof *ext);
    if (ext == NULL) return -ENOMEM;
    ext->version = SND_CTL_EXT_VERSION;
    ext->card_idx = -1;
    snprintf(ext->id, sizeof ext->id, "Empty");
    snprintf(ext->driver, sizeof ext->driver, "Empty");
    snprintf(ext->name, sizeof ext->name, "No controls");
    snprintf(ext->longname, sizeof ext->longname, "A control device with no controls");
    snprintf(ext->mixername, sizeof ext->mixername, "None");
    ext->callback = &callbacks;
    int err = snd_ctl_ext_create(ext, name, mode);
    if (err < 0) {
        free(ext);
        return err;
    }
    *handlep = ext->handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(platora_empty) /* expands to a declaration with its own semicolon */
