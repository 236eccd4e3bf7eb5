#pragma once

namespace kalder
{

/**
    The visible window of the editors as the playhead's auto-scroll sees it: a
    rectangle in fractions (0 to 1) of the whole image, given by its centre and size.

    The display's focus area implements this, so the playback side can follow the
    playhead without depending on the display.

    Threading: called on the message thread only.
*/
class ScrollTarget
{
public:
    virtual ~ScrollTarget() = default;

    /** Horizontal centre, 0 = start of the track, 1 = its end. */
    virtual double getCentreX() const = 0;

    /** Vertical centre, 0 = top of the image. */
    virtual double getCentreY() const = 0;

    /** Visible width as a fraction of the whole track. */
    virtual double getWidth() const = 0;

    /** Visible height as a fraction of the whole image. */
    virtual double getHeight() const = 0;

    /** Moves the window; the caller keeps it inside the image. */
    virtual void setCentre (double centreX, double centreY) = 0;

    /** Marks the window as changed, so that its views are notified. */
    virtual void markChanged() = 0;
};

} // namespace kalder
