// The page's small helpers: elements built with text only (nothing from the server is ever
// read as HTML), and the API with the viewer's token.

export function el(tag, attributes = {}, ...children) {
    const element = document.createElement(tag);
    for (const [key, value] of Object.entries(attributes)) {
        if (value === null || value === undefined || value === false) continue;
        if (key === "class") element.className = value;
        else if (key === "text") element.textContent = value;
        else element.setAttribute(key, value === true ? "" : value);
    }
    for (const child of children.flat()) {
        if (child === null || child === undefined) continue;
        element.append(child instanceof Node ? child : String(child));
    }
    return element;
}

export function localTime(iso) {
    const date = new Date(iso);
    return Number.isNaN(date.getTime()) ? String(iso ?? "") : date.toLocaleString();
}

// A refused request: its status and the server's reason.
export class ApiError extends Error {
    constructor(status, message) {
        super(message);
        this.status = status;
    }
}

export async function api(token, path) {
    const response = await fetch(`/api/v1/${path}`, {
        headers: { Authorization: `Bearer ${token}` },
        cache: "no-store",
    });
    let body = null;
    try {
        body = await response.json();
    } catch {
        // An answer without JSON (a proxy's page, say) is told by its status alone.
    }
    if (!response.ok) {
        throw new ApiError(response.status, body?.error ?? `HTTP ${response.status}`);
    }
    return body;
}

// Runs work at most once per wait, however often it is asked for in between.
export function coalesced(work, waitMs) {
    let timer = null;
    return () => {
        if (timer !== null) return;
        timer = setTimeout(() => {
            timer = null;
            work();
        }, waitMs);
    };
}
